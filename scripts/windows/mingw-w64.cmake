# CMake toolchain for building 64-bit Windows programs and libraries on a Debian host with the
# posix-thread flavour of mingw-w64 (package g++-mingw-w64-x86-64-posix). The posix flavour is
# the one whose libstdc++ has std::thread, std::mutex and friends, which Qt and our own code use.
#
# Use it for any cross build, the dependencies' and the program's alike:
#   cmake -S src -B build -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=scripts/windows/mingw-w64.cmake \
#         -DCMAKE_PREFIX_PATH=/path/to/win64/prefix
# Every folder in CMAKE_PREFIX_PATH (and any extra CMAKE_FIND_ROOT_PATH the caller passes) is
# added to the find roots, so Windows libraries and their CMake package files are searched in
# the mingw-w64 sysroot and in those prefixes only, never among the host's Linux libraries.
# Programs (moc, rcc, uic, windres, ...) are still searched on the host, because they run here.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MINGW_W64_TRIPLET x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${MINGW_W64_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_W64_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_W64_TRIPLET}-windres)
# ar, ranlib, strip, objdump and nm are found by CMake itself from the compilers' prefix.

# The toolchain file is read again for every try_compile; hand the caller's prefixes on to
# those inner projects too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES CMAKE_PREFIX_PATH CMAKE_FIND_ROOT_PATH)

# The mingw-w64 sysroot first, then what the caller added (the prefixes themselves are roots:
# a package found at PREFIX/lib/cmake/Foo is found through root PREFIX).
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${MINGW_W64_TRIPLET} ${CMAKE_PREFIX_PATH})
list(REMOVE_DUPLICATES CMAKE_FIND_ROOT_PATH)

# Host programs, target libraries, headers and CMake packages.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

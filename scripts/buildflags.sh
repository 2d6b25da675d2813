# Sourced by run.sh and test.sh, so that both configure build/ alike and neither rebuilds what
# the other built. Unity batches and -O1 without debug information keep a fresh build of
# everything within a few minutes on two cores.
build_flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_UNITY_BUILD=ON
             "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g0 -DNDEBUG")
# The engine alone (no QtWidgets), built by clang under the sanitizers, with the fuzz targets and
# without the tests (the first build runs those): test.sh's second build and fuzz.sh's, so that
# ccache serves one from the other.
engine_flags=(-DCMAKE_CXX_COMPILER=clang++-15 -DVIGILOR_BUILD_UI=OFF -DVIGILOR_BUILD_TESTS=OFF
              -DVIGILOR_SANITIZE=ON -DVIGILOR_FUZZ=ON)

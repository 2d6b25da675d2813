# Sourced by run.sh and test.sh, so that both configure build/ alike and neither rebuilds what
# the other built. Unity batches and -O1 without debug information keep a fresh build of
# everything within a few minutes on two cores.
build_flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_UNITY_BUILD=ON
             "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g0 -DNDEBUG")

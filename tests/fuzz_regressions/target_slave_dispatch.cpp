// The fuzz target's body, compiled with this build's compiler and sanitizers for the replay
// suite (without the libFuzzer entry point).
#include "../../fuzz/targets/slave_dispatch.cpp"

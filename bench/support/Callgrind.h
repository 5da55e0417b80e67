#pragma once

// Switches callgrind's counting on and off around the part of a run that is measured
// (valgrind --tool=callgrind --collect-atstart=no). Outside valgrind, and where its
// header is missing, these cost nothing or a handful of instructions.
#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
inline bool UnderValgrind() { return RUNNING_ON_VALGRIND != 0; }
inline void CountInstructions(bool on)
{
    if (on)
        CALLGRIND_START_INSTRUMENTATION;
    CALLGRIND_TOGGLE_COLLECT;
    if (!on)
        CALLGRIND_STOP_INSTRUMENTATION;
}
#else
inline bool UnderValgrind() { return false; }
inline void CountInstructions(bool) {}
#endif

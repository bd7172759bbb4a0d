// How often a long native loop looks for a signal (Ctrl-C), for both modules.
#pragma once

#include <Python.h>

namespace davuzod {

// While native code runs, the interpreter sees a signal only once the call
// ends, so a long loop looks for one itself, between two items (words, lines,
// n-grams). Every 4096 items keeps the wait after Ctrl-C far below what a
// person notices even for long words, while the check, a call into the
// interpreter, stays out of the cost of each item; a power of two makes the
// count's test a mask.
inline constexpr Py_ssize_t items_between_signal_checks = 4096;

}  // namespace davuzod

// TraceHook: the runner's diagnostic lines. They go nowhere unless the environment
// variable CONTENTEXE_TRACE is set, in which case they go to standard error (POSIX) or
// to the debugger (Windows). Nothing depends on them.
#pragma once

namespace app {

// printf-style with wide text: "%s" takes a char16_t string (see utils::FormatString).
void TraceHook(const char16_t* format, ...);

}  // namespace app

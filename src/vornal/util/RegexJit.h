#pragma once
// Called first in main() of both programs.
//
// With mingw-w64 (GCC's emulated thread-local storage and winpthreads) the storage of a
// `thread_local` object may be freed before its destructor runs when a thread ends. Qt keeps the
// PCRE2 JIT stack of QRegularExpression in such an object, which every JIT match touches, so a
// worker thread that matched a line crashed when it ended (closing the window, stopping a
// connection). The interpreter gives the same results without that object; the lines are short.
#include <QtGlobal>

namespace vornal::util {

inline void avoidThreadExitCrashOnMingw() {
#if defined(__MINGW32__)
    // Read by Qt once, before the first pattern is compiled.
    if (!qEnvironmentVariableIsSet("QT_ENABLE_REGEXP_JIT"))
        qputenv("QT_ENABLE_REGEXP_JIT", "0");
#endif
}

} // namespace vornal::util

#pragma once

namespace velmor::detail {

// Called before a wait that blocks the calling thread, with the wait's name ("Task::value"). On
// the main thread the window would stop responding: a debug build stops the process there, a
// release build logs it (`reportBlockingMainWait`) and goes on.
void checkNotBlockingMain(const char* what);

// Logs at the error level that the main thread blocks in `what`: once per name, so that a wait in
// a loop does not flood the log.
void reportBlockingMainWait(const char* what);

} // namespace velmor::detail

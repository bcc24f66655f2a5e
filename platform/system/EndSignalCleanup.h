// Files that must not outlive the process, such as the upload files of running requests: a
// signal that ends the process (SIGTERM, SIGINT, SIGHUP) removes them before it does so.
#pragma once

#include <string>

namespace velmora {

// Lists path for removal / takes it off the list (the request deleted or kept it). Thread-safe.
// At most 256 files are listed at once; further ones are left to the sweep of old upload files.
void RemoveOnEndSignal(const std::string& path);
void ForgetOnEndSignal(const std::string& path);

// Removes every listed file; safe in a signal handler (the close-signal handler calls it too
// before a signal ends the process).
void RemoveListedFiles() noexcept;

// For SIGTERM, SIGINT and SIGHUP that still have their default action (ending the process):
// a handler that removes the listed files, then lets the signal end the process as before.
// Signals the program handles or ignores are left alone. Once per process; later calls do nothing.
void InstallEndSignalCleanup();

}  // namespace velmora

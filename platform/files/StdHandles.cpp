// Standard input and output as owned descriptor streams, and the broken-pipe setting of a CGI
// process (POSIX: SIGPIPE ignored, so a write to a closed pipe returns EPIPE).
#include "StdHandles.h"

#include <signal.h>
#include <unistd.h>

namespace velmora {

std::unique_ptr<THandleStream> OpenStdInput() {
    return std::make_unique<THandleStream>(STDIN_FILENO, true);
}

std::unique_ptr<THandleStream> OpenStdOutput() {
    return std::make_unique<THandleStream>(STDOUT_FILENO, true);
}

void IgnoreBrokenPipe() noexcept { ::signal(SIGPIPE, SIG_IGN); }

}  // namespace velmora

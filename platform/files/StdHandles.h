// The process's standard input and output as streams, for programs that a web server starts with
// the request on standard input and reads the answer from standard output.
#pragma once

#include <memory>

#include "Streams.h"

namespace velmora {

// Streams on descriptors 0 and 1 that own them: closing the output tells the web server that the
// answer is complete.
std::unique_ptr<THandleStream> OpenStdInput();
std::unique_ptr<THandleStream> OpenStdOutput();

// A web server that drops the connection closes the pipe of the answer; writes then fail with an
// error instead of killing the process, so the end of the request (upload clean-up) still runs.
void IgnoreBrokenPipe() noexcept;

}  // namespace velmora

// THttpResponseReader: one HTTP/1.1 answer collected from the bytes a server sends, as they
// arrive: status, and the body by Content-Length, chunked coding or the end of the connection.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace velmora {

// Every size is bounded: the server at the other end is a stranger's machine as far as its bytes
// go, and an endless head or body must not grow the request's memory.
class THttpResponseReader {
public:
    explicit THttpResponseReader(size_t maxBody = 65536) : FMaxBody(maxBody) {}

    // Adds what arrived; Done() or Failed() may be true afterwards.
    void Feed(std::string_view bytes);
    // The server closed the connection: ends a body that runs to the close, fails any other.
    void End();

    bool Done() const noexcept { return FState == TState::Done; }
    bool Failed() const noexcept { return FState == TState::Failed; }
    const std::string& Error() const noexcept { return FError; }
    int Status() const noexcept { return FStatus; }
    const std::string& Body() const noexcept { return FBody; }

private:
    enum class TState { Head, Length, ChunkSize, ChunkData, ChunkEnd, Trailer, UntilClose, Done, Failed };

    void Fail(const std::string& why);
    void Step();
    bool ReadHead();
    bool ReadHeaderLine(std::string_view line, bool& chunked, bool& hasLength);
    bool TakeBody(size_t n);
    bool TakeLine(std::string& line);

    size_t FMaxBody;
    TState FState = TState::Head;
    std::string FIn;  // bytes not yet consumed
    std::string FBody;
    std::string FError;
    int FStatus = 0;
    size_t FLeft = 0;  // bytes still owed by Content-Length or the current chunk
};

}  // namespace velmora

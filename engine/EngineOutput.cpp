// The response path every engine shares: the automatic header (status line, content type,
// no-cache lines), header lines, buffering, and the flush that adds "content-length".
#include "HttpEng.h"

#include <cstring>

#include "HttpDate.h"
#include "System.h"

namespace velmora {

namespace {

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

// The status line is left to servers that write their own.
bool ServerWritesStatusLine(const std::string& serverSoftware) {
    std::string up = UpperCase(serverSoftware);
    return Contains(up, "NETSCAPE") || Contains(up, "APACHE");
}

// Offset of the first CR LF CR LF before the buffer's first zero byte, or npos.
size_t FindHeaderEnd(const char* data, size_t size) {
    size_t limit = strnlen(data, size);
    for (size_t i = 0; i + 4 <= limit; ++i)
        if (std::memcmp(data + i, "\r\n\r\n", 4) == 0) return i;
    return std::string::npos;
}

}  // namespace

// HeaderSent is set first so that the nested writes below never start the header again.
void THttpEngine::WriteAutoHeader(const std::string& contentType, bool withNoCache) {
    TRequestState& st = RequestState();
    st.HeaderSent = true;
    WriteHeader("content-type", st.ContentType.empty() ? contentType : st.ContentType);
    for (const auto& [name, value] : st.ExtraHeaders) WriteHeader(name, value);
    if (withNoCache) {
        std::string expired = HttpDate(Now() - 1000);
        WriteHeader("Pragma", "no-cache");
        WriteHeader("Cache-Control", "no-cache");
        WriteHeader("Expires", expired);
        WriteHeader("Document Expires", expired);
    }
    EndHeaders();
}

void THttpEngine::StartAutoHeader() {
    if (AutoHttpHeader && !RequestState().HeaderSent) WriteAutoHeader(AutoContentType, NoCache);
}

// Text beginning with neither CR LF nor (after blanks) "<" does not start the header, so an
// application can write raw lines of its own first.
void THttpEngine::Write(const std::string& s) {
    TRequestState& st = RequestState();
    if (AutoHttpHeader && !st.HeaderSent && (StartsWith(s, "\r\n") || StartsWith(TrimLeft(s), "<")))
        WriteAutoHeader(AutoContentType, NoCache);
    if (BufferedOutput && !st.DirectOutput && !s.empty() && st.OutputBuffer)
        st.OutputBuffer->WriteString(s);
}

void THttpEngine::WriteBuffer(const void* buffer, int count) {
    TRequestState& st = RequestState();
    if (AutoHttpHeader && !st.HeaderSent) {
        std::string type = st.ContentKind == 2   ? "image/gif"
                           : st.ContentKind == 1 ? "image/jpeg"
                                                 : AutoContentType;
        WriteAutoHeader(type, false);
    }
    if (BufferedOutput && !st.DirectOutput && count > 0 && st.OutputBuffer)
        st.OutputBuffer->WriteBuffer(buffer, count);
}

// The status line is decided once per request, right before the first header, and left out
// when that header is a redirect ("Location", or any part of the word).
void THttpEngine::WriteHeader(const std::string& name, const std::string& value) {
    TRequestState& st = RequestState();
    if (AutoHttpHeader && !st.StatusLineSent) {
        st.StatusLineSent = true;
        std::string up = UpperCase(name);
        bool redirect = !up.empty() && Contains("LOCATION", up);
        if (!redirect) WriteStatusLine();
    }
    Write(name + ":" + value + "\r\n");
}

void THttpEngine::EndHeaders() { WriteLn(""); }

// A server that writes its own status line takes another status from a "Status" header line.
void THttpEngine::WriteStatusLine() {
    const std::string& status = RequestState().Status;
    if (!ServerWritesStatusLine(GetServerSoftware())) WriteLn("HTTP/1.1 " + (status.empty() ? std::string("200 OK") : status));
    else WriteStatusHeader();
}

void THttpEngine::WriteStatusHeader() {
    const std::string& status = RequestState().Status;
    if (!status.empty()) WriteLn("Status: " + status);
}

void SetRequestStatus(const std::string& status) { RequestState().Status = status; }

void SetRequestContentType(const std::string& type) { RequestState().ContentType = type; }

void AddRequestHeader(const std::string& name, const std::string& value) {
    RequestState().ExtraHeaders.emplace_back(name, value);
}

// Sends the collected response. DirectOutput is already on, so every write goes to the server;
// "content-length" becomes the last header line and counts exactly the body bytes.
void THttpEngine::FlushOutputBuffer() {
    TRequestState& st = RequestState();
    if (!st.OutputBuffer) return;
    // Keep the buffer alive through the writes even if something replaces the thread's buffer.
    std::unique_ptr<TMemoryStream> buffer = std::move(st.OutputBuffer);
    const std::string& bytes = buffer->Bytes();
    int size = static_cast<int>(bytes.size());
    if (!AutoHttpHeader) {
        WriteBuffer(bytes.data(), size);
        return;
    }
    if (FHeadersThroughServer || (RunsAsLibrary() && Contains(UpperCase(GetServerSoftware()), "NETSCAPE"))) {
        WriteHeader("content-length", IntToStr(size));
        st.HeaderSent = true;
        EndHeaders();
        WriteBuffer(bytes.data(), size);
        return;
    }
    size_t p = FindHeaderEnd(bytes.data(), bytes.size());
    if (p == std::string::npos) {
        WriteBuffer(bytes.data(), size);
        return;
    }
    int bodySize = size - static_cast<int>(p) - 4;
    WriteBuffer(bytes.data(), static_cast<int>(p) + 2);
    WriteHeader("content-length", IntToStr(bodySize));
    st.HeaderSent = true;
    EndHeaders();
    WriteBuffer(bytes.data() + p + 4, bodySize);
}

}  // namespace velmora

// The answer reader's states: the head up to its empty line (interim 1xx answers skipped), then a
// body of the declared length, in chunks (RFC 9112 7.1), or to the end of the connection.
#include "HttpResponse.h"

#include <cctype>

namespace velmora {

namespace {

// Heads and chunk lines beyond these are no server's honest answer to a short POST.
constexpr size_t kMaxHead = 16384;
constexpr size_t kMaxLine = 1024;

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// Decimal or (hex) digits only, no sign, no overflow past limit; false otherwise.
bool ParseSize(std::string_view s, int base, size_t limit, size_t& value) {
    if (s.empty()) return false;
    value = 0;
    for (char c : s) {
        int d = c >= '0' && c <= '9' ? c - '0' : base == 16 && c >= 'a' && c <= 'f' ? c - 'a' + 10
              : base == 16 && c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (d < 0) return false;
        if (value > (limit - static_cast<size_t>(d)) / static_cast<size_t>(base)) return false;
        value = value * static_cast<size_t>(base) + static_cast<size_t>(d);
    }
    return true;
}

}  // namespace

void THttpResponseReader::Fail(const std::string& why) {
    FState = TState::Failed;
    FError = why;
    FIn.clear();
}

void THttpResponseReader::Feed(std::string_view bytes) {
    if (Done() || Failed()) return;
    FIn.append(bytes);
    Step();
}

void THttpResponseReader::End() {
    if (FState == TState::UntilClose) FState = TState::Done;
    else if (!Done() && !Failed()) Fail("the server closed the connection before the answer was complete");
}

bool THttpResponseReader::TakeLine(std::string& line) {
    size_t end = FIn.find("\r\n");
    if (end == std::string::npos) {
        if (FIn.size() > kMaxLine) Fail("a line of the answer is too long");
        return false;
    }
    if (end > kMaxLine) {
        Fail("a line of the answer is too long");
        return false;
    }
    line = FIn.substr(0, end);
    FIn.erase(0, end + 2);
    return true;
}

bool THttpResponseReader::TakeBody(size_t n) {
    size_t take = std::min(n, FIn.size());
    if (FBody.size() + take > FMaxBody) {
        Fail("the answer's body is larger than " + std::to_string(FMaxBody) + " bytes");
        return false;
    }
    FBody.append(FIn, 0, take);
    FIn.erase(0, take);
    FLeft -= std::min(FLeft, take);
    return true;
}

void THttpResponseReader::Step() {
    std::string line;
    for (;;) {
        switch (FState) {
            case TState::Head:
                if (!ReadHead()) return;
                break;
            case TState::Length:
                if (!TakeBody(FLeft)) return;
                if (FLeft > 0) return;
                FState = TState::Done;
                return;
            case TState::UntilClose:
                if (FIn.size() + FBody.size() > FMaxBody) return Fail("the answer's body is larger than " + std::to_string(FMaxBody) + " bytes");
                TakeBody(FIn.size());
                return;
            case TState::ChunkSize: {
                if (!TakeLine(line)) return;
                std::string_view size = Trim(std::string_view(line).substr(0, line.find(';')));
                if (!ParseSize(size, 16, FMaxBody + 1, FLeft)) return Fail("a malformed chunk size");
                FState = FLeft == 0 ? TState::Trailer : TState::ChunkData;
                break;
            }
            case TState::ChunkData:
                if (!TakeBody(FLeft)) return;
                if (FLeft > 0) return;
                FState = TState::ChunkEnd;
                break;
            case TState::ChunkEnd:
                if (FIn.size() < 2) return;
                if (FIn.compare(0, 2, "\r\n") != 0) return Fail("a chunk does not end with CR LF");
                FIn.erase(0, 2);
                FState = TState::ChunkSize;
                break;
            case TState::Trailer:
                if (!TakeLine(line)) return;
                if (line.empty()) FState = TState::Done;
                break;
            case TState::Done:
            case TState::Failed: return;
        }
    }
}

bool THttpResponseReader::ReadHead() {
    size_t end = FIn.find("\r\n\r\n");
    if (end == std::string::npos || end > kMaxHead) {
        if (FIn.size() > kMaxHead) Fail("the answer's head is larger than " + std::to_string(kMaxHead) + " bytes");
        return false;
    }
    std::string head = FIn.substr(0, end + 2);
    FIn.erase(0, end + 4);
    size_t lineEnd = head.find("\r\n");
    std::string_view status(head.data(), lineEnd);
    size_t code = 0;
    // "HTTP/1.1 200 OK": the version's major 1, then three digits and a blank or the line's end.
    if (status.size() < 12 || status.substr(0, 7) != "HTTP/1." || status[8] != ' ' ||
        !ParseSize(status.substr(9, 3), 10, 999, code) || code < 100 || (status.size() > 12 && status[12] != ' ')) {
        Fail("not an HTTP/1.x answer");
        return false;
    }
    FStatus = static_cast<int>(code);
    bool chunked = false, hasLength = false;
    for (size_t pos = lineEnd + 2; pos < head.size();) {
        size_t next = head.find("\r\n", pos);
        if (!ReadHeaderLine(std::string_view(head).substr(pos, next - pos), chunked, hasLength)) return false;
        pos = next + 2;
    }
    if (FStatus < 200) return true;  // an interim answer: the real one follows
    if (chunked && hasLength) {
        Fail("the answer has both Content-Length and chunked coding");
        return false;
    }
    FState = chunked ? TState::ChunkSize : hasLength ? TState::Length : TState::UntilClose;
    return true;
}

bool THttpResponseReader::ReadHeaderLine(std::string_view line, bool& chunked, bool& hasLength) {
    size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) {
        Fail("a malformed header line in the answer");
        return false;
    }
    std::string name = Lower(line.substr(0, colon));
    std::string_view value = Trim(line.substr(colon + 1));
    if (name == "transfer-encoding") {
        if (Lower(value) != "chunked") {
            Fail("an answer in a transfer coding other than chunked");
            return false;
        }
        chunked = true;
    } else if (name == "content-length") {
        size_t length = 0;
        if (!ParseSize(value, 10, FMaxBody + 1, length) || (hasLength && length != FLeft)) {
            Fail("a bad Content-Length in the answer");
            return false;
        }
        if (length > FMaxBody) {
            Fail("the answer's body is larger than " + std::to_string(FMaxBody) + " bytes");
            return false;
        }
        hasLength = true;
        FLeft = length;
    }
    return true;
}

}  // namespace velmora

// The record loop of one connection: whole records are taken from the input and typed; a request
// is collected from BEGIN_REQUEST to its empty STDIN record with each limit checked as bytes come,
// and handed out only when it is complete. Management records are answered wherever they come.
#include "FcgiConnection.h"

#include <algorithm>
#include <climits>

#include "FcgiManagement.h"
#include "FcgiRecords.h"

namespace velmora::fcgi {

namespace {

// A CONTENT_LENGTH the program can take: digits only, below 2^31 (the engine's lengths are int).
// Absent or empty: no body.
bool ParseContentLength(const std::string* text, long long& length) {
    length = 0;
    if (!text) return true;
    for (char c : *text) {
        if (c < '0' || c > '9') return false;
        length = length * 10 + (c - '0');
        if (length > INT_MAX) return false;
    }
    return true;
}

}  // namespace

const std::string* TRequest::Param(std::string_view name) const {
    for (const auto& [n, v] : Params)
        if (n == name) return &v;
    return nullptr;
}

bool TConnection::Active() const {
    return FPhase == TPhase::Head || FPhase == TPhase::Body || FPhase == TPhase::Ready || FPhase == TPhase::Running;
}

void TConnection::Feed(std::string_view bytes) {
    if (FPhase == TPhase::Closing) return;
    FInput.append(bytes);
    size_t p = 0;
    while (FPhase != TPhase::Closing && FInput.size() - p >= kHeaderSize) {
        const THeader h = ReadHeader(std::string_view(FInput).substr(p));
        if (h.Version != kVersion) {
            Fail("record of version " + std::to_string(h.Version));
            break;
        }
        if (FInput.size() - p - kHeaderSize < h.BodySize()) break;
        Dispatch(h.Type, h.RequestId, std::string_view(FInput).substr(p + kHeaderSize, h.ContentLength));
        p += kHeaderSize + h.BodySize();
    }
    if (FPhase == TPhase::Closing) FInput.clear();
    else FInput.erase(0, p);
}

void TConnection::Dispatch(uint8_t type, uint16_t id, std::string_view content) {
    if (id == 0) return Management(type, content);
    if (type == kBeginRequest) return Begin(id, content);
    // Records of a request that is not this connection's current one (refused, ended or never
    // begun) are ignored, as the protocol asks.
    if (!Active() || id != FRequest.Id) return;
    if (type == kAbortRequest) return Abort();
    if (type == kParams && FPhase == TPhase::Head) return HeadBytes(content);
    if (type == kStdin && FPhase == TPhase::Body) return BodyBytes(content);
    // The request has arrived in full: what its server still sends for it changes nothing.
    if (FPhase == TPhase::Ready || FPhase == TPhase::Running) return;
    Fail("record of type " + std::to_string(type) + " out of order in request " + std::to_string(id));
}

void TConnection::Management(uint8_t type, std::string_view content) {
    if (!AnswerManagement(FOutput, type, content, FRules.MaxConnections)) Fail("malformed GET_VALUES record");
}

void TConnection::Begin(uint16_t id, std::string_view content) {
    if (content.size() != 8) return Fail("BEGIN_REQUEST of " + std::to_string(content.size()) + " bytes");
    // One request at a time: a second one is told so and the first goes on.
    if (Active()) return AppendEndRequest(FOutput, id, 0, kCantMpxConn);
    const auto role = static_cast<uint16_t>(static_cast<uint8_t>(content[0]) << 8 | static_cast<uint8_t>(content[1]));
    const bool keep = (static_cast<uint8_t>(content[2]) & kKeepConn) != 0;
    if (role != kResponder) {
        // Answering an authorizer or filter as if it were a form would grant or alter what it
        // asks about.
        if (FRules.Log) FRules.Log("FastCGI request of role " + std::to_string(role) + " refused: only responders are served");
        AppendEndRequest(FOutput, id, 0, kUnknownRole);
        if (!keep) FPhase = TPhase::Closing;
        return;
    }
    FRequest = TRequest{};
    FRequest.Id = id;
    FRequest.KeepConn = keep;
    FHead.clear();
    FBodyBytes = 0;
    FAborted = false;
    FPhase = TPhase::Head;
}

void TConnection::HeadBytes(std::string_view content) {
    if (content.empty()) return EndHead();
    if (content.size() > FRules.MaxHead - FHead.size())
        return Refuse("request head larger than " + std::to_string(FRules.MaxHead) + " bytes");
    FHead.append(content);
}

void TConnection::EndHead() {
    if (!DecodePairs(FHead, FRules.MaxParams, FRequest.Params))
        return Refuse("parameters malformed or more than " + std::to_string(FRules.MaxParams));
    std::string().swap(FHead);
    const std::string* length = FRequest.Param("CONTENT_LENGTH");
    if (!ParseContentLength(length, FRequest.ContentLength))
        return Refuse("CONTENT_LENGTH \"" + length->substr(0, 40) + "\" is not a length");
    const std::string* type = FRequest.Param("CONTENT_TYPE");
    const long long limit = FRules.BodyLimit ? FRules.BodyLimit(type ? *type : std::string()) : LLONG_MAX;
    FRequest.BodyDropped = FRequest.ContentLength > limit;
    FRequest.Hold = TBodyHold(FRules.BodyBudget);
    FPhase = TPhase::Body;
}

void TConnection::BodyBytes(std::string_view content) {
    const long long announced = FRequest.ContentLength;
    if (content.empty()) {
        if (FBodyBytes < announced)
            return Refuse("body ended after " + std::to_string(FBodyBytes) + " of " + std::to_string(announced) +
                          " announced bytes");
        FPhase = TPhase::Ready;
        return;
    }
    FBodyBytes += static_cast<long long>(content.size());
    if (FBodyBytes > announced)
        return Refuse("body longer than the " + std::to_string(announced) + " announced bytes");
    if (FRequest.BodyDropped) return;
    if (!KeepBody(content))
        return Refuse("the server holds " + std::to_string(FRules.BodyBudget->Held() >> 20) + " MB of request bodies already",
                      "503 Service Unavailable");
}

// The body grows as its bytes come, never past the announced length (an announcement costs
// nothing), and each growth is taken from the server's budget before it is made.
bool TConnection::KeepBody(std::string_view content) {
    std::string& body = FRequest.Body;
    const size_t need = body.size() + content.size();
    if (need > body.capacity()) {
        const auto announced = static_cast<size_t>(FRequest.ContentLength);
        const size_t room = std::min(announced, std::max(need, 2 * body.capacity()));
        if (!FRequest.Hold.Grow(static_cast<long long>(room - body.capacity()))) return false;
        body.reserve(room);
    }
    body.append(content);
    return true;
}

void TConnection::DropBody() {
    std::string().swap(FRequest.Body);
    FRequest.Hold.Release();
}

void TConnection::Abort() {
    if (FPhase == TPhase::Running) {
        FAborted = true;
        return;
    }
    AppendEndRequest(FOutput, FRequest.Id, 0, kRequestComplete);
    FPhase = FRequest.KeepConn && !FPeerDone ? TPhase::Idle : TPhase::Closing;
    FRequest = TRequest{};
}

TRequest TConnection::TakeRequest() {
    FPhase = TPhase::Running;
    return std::move(FRequest);
}

void TConnection::Finish(std::string_view answer) {
    if (FPhase != TPhase::Running) return;
    if (!FAborted) FOutput.append(answer);
    AppendEndRequest(FOutput, FRequest.Id, 0, kRequestComplete);
    FPhase = FRequest.KeepConn && !FPeerDone ? TPhase::Idle : TPhase::Closing;
}

// A peer that ends its side may still read: a request cut short is told why.
void TConnection::PeerDone() {
    FPeerDone = true;
    if (FPhase == TPhase::Head) Refuse("the request head ended early");
    else if (FPhase == TPhase::Body) BodyBytes({});
    else if (FPhase == TPhase::Idle) FPhase = TPhase::Closing;
}

void TConnection::Close(const std::string& reason) {
    if (FPhase != TPhase::Closing) Fail(reason);
}

// A request that cannot be run is answered (400, the reason on the error stream too, so that it
// reaches the server's error log) and its connection closed: what follows on it is not trusted.
void TConnection::Refuse(const std::string& reason, const char* status) {
    DropBody();
    const std::string line = "FastCGI request refused: " + reason;
    if (FRules.Log) FRules.Log(line);
    AppendStream(FOutput, kStderr, FRequest.Id, line + "\n");
    AppendRecord(FOutput, kStderr, FRequest.Id, "");
    AppendStream(FOutput, kStdout, FRequest.Id, std::string("Status: ") + status + "\r\ncontent-type:text/plain\r\n\r\n" + reason + "\r\n");
    AppendRecord(FOutput, kStdout, FRequest.Id, "");
    AppendEndRequest(FOutput, FRequest.Id, 0, kRequestComplete);
    FPhase = TPhase::Closing;
}

void TConnection::Fail(const std::string& reason) {
    if (FRules.Log) FRules.Log("FastCGI connection closed: " + reason);
    DropBody();
    FPhase = TPhase::Closing;
}

}  // namespace velmora::fcgi

// TConnection: one FastCGI connection's records in, its answers out, as a state machine without
// I/O. The server feeds it what the socket gave and writes what it has to send; the fuzzer and the
// tests drive the same code over socket pairs.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "FcgiBodyBudget.h"
#include "FcgiPairs.h"

namespace velmora::fcgi {

// The limits a connection holds its peer to, fixed while the server runs.
struct TConnectionRules {
    // Parameter bytes of one request: web servers send a few kilobytes; the whole head is held
    // in memory until its request has run.
    size_t MaxHead = 128 * 1024;
    size_t MaxParams = 1000;
    // Told to a server that asks with GET_VALUES (FCGI_MAX_CONNS and FCGI_MAX_REQS: one request
    // per connection).
    int MaxConnections = 1024;
    // The largest body kept for a request of this content type; a larger one is read away and
    // the request runs without it (the program answers 413).
    std::function<long long(const std::string& contentType)> BodyLimit;
    // The body bytes every connection of the server together may hold; null: no such limit.
    // Past it a request is answered 503: many slow bodies cannot take the process's memory.
    TBodyBudget* BodyBudget = nullptr;
    // Where refusals and broken connections are reported (the program's log).
    std::function<void(const std::string& line)> Log;
};

// A request that has arrived in full, head and body, ready for a worker.
struct TRequest {
    uint16_t Id = 0;
    bool KeepConn = false;
    TPairs Params;
    std::string Body;             // empty when BodyDropped
    long long ContentLength = 0;  // as announced (0 when absent)
    bool BodyDropped = false;     // above the body limit: read away, not kept
    TBodyHold Hold;               // Body's share of the server's budget, given back with it
    // The value of a parameter, or null.
    const std::string* Param(std::string_view name) const;
};

// Not thread-safe: owned by the event loop's thread; a worker sees only the TRequest it was given.
class TConnection {
public:
    enum class TPhase {
        Idle,     // between requests (or before the first)
        Head,     // BEGIN_REQUEST taken, parameters arriving
        Body,     // parameters complete, body arriving
        Ready,    // arrived in full; TakeRequest hands it out
        Running,  // a worker runs it; Finish brings the answer
        Closing,  // nothing more is read: close once Output is written
    };

    explicit TConnection(const TConnectionRules& rules) : FRules(rules) {}

    // Takes bytes the peer sent; any split of a stream into pieces gives the same result.
    void Feed(std::string_view bytes);
    // The peer ended its side: a request that has arrived in full is still answered.
    void PeerDone();
    // Ready -> Running: the request, handed out once.
    TRequest TakeRequest();
    // Running -> Idle or Closing: the answer's stream records (dropped for an aborted request),
    // then END_REQUEST.
    void Finish(std::string_view answer);
    // Ends the connection from outside (a limit ran out), with the reason in the log.
    void Close(const std::string& reason);

    TPhase Phase() const { return FPhase; }
    // Bytes to send; the server erases what it wrote.
    std::string& Output() { return FOutput; }

private:
    void Dispatch(uint8_t type, uint16_t id, std::string_view content);
    void Management(uint8_t type, std::string_view content);
    void Begin(uint16_t id, std::string_view content);
    void HeadBytes(std::string_view content);
    void EndHead();
    void BodyBytes(std::string_view content);
    void Abort();
    bool KeepBody(std::string_view content);
    void Refuse(const std::string& reason, const char* status = "400 Bad Request");
    void DropBody();
    void Fail(const std::string& reason);
    bool Active() const;

    const TConnectionRules& FRules;
    TPhase FPhase = TPhase::Idle;
    std::string FInput;   // bytes of a record not yet complete
    std::string FOutput;
    std::string FHead;    // parameter bytes of the request arriving
    TRequest FRequest;
    long long FBodyBytes = 0;
    bool FAborted = false;
    bool FPeerDone = false;
};

}  // namespace velmora::fcgi

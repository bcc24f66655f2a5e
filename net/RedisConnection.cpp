// The connection talks to hiredis through the functions loaded on first use. The server's name is
// looked up here, and hiredis bounds a connect by its own timeout and a command by socket timeouts;
// all are set from what is left of the caller's deadline, so a store that hangs costs a post no more.
#include "RedisConnection.h"

#include <sys/time.h>

#include "HiredisLibrary.h"
#include "HostLookup.h"
#include "StdHandles.h"
#include "System.h"

namespace velmora {

namespace {

// What is left before deadline, at least a millisecond (hiredis reads zero as "wait for ever").
timeval Remaining(TRedisDeadline deadline, bool& late) {
    auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - std::chrono::steady_clock::now()).count();
    late = left <= 0;
    if (left < 1000) left = 1000;
    return timeval{static_cast<time_t>(left / 1000000), static_cast<suseconds_t>(left % 1000000)};
}

uint64_t RemainingMs(TRedisDeadline deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    return left > 0 ? static_cast<uint64_t>(left) : 0;
}

void ReadReply(const redisReply* r, TRedisReply& reply) {
    reply = TRedisReply();
    switch (r->type) {
        case REDIS_REPLY_INTEGER: reply.Kind = TRedisReply::TKind::Integer; reply.Integer = r->integer; break;
        case REDIS_REPLY_STRING: reply.Kind = TRedisReply::TKind::Text; break;
        case REDIS_REPLY_STATUS: reply.Kind = TRedisReply::TKind::Status; break;
        case REDIS_REPLY_ERROR: reply.Kind = TRedisReply::TKind::Error; break;
        case REDIS_REPLY_ARRAY: reply.Kind = TRedisReply::TKind::Array; break;
        default: break;
    }
    if (r->str && (r->type == REDIS_REPLY_STRING || r->type == REDIS_REPLY_STATUS || r->type == REDIS_REPLY_ERROR))
        reply.Text.assign(r->str, r->len);
}

}  // namespace

TRedisConnection::~TRedisConnection() { Close(); }

void TRedisConnection::Close() noexcept {
    if (FContext) Hiredis()->Free(FContext);
    FContext = nullptr;
}

bool TRedisConnection::Fail(const std::string& why) {
    FError = why;
    Close();
    return false;
}

bool TRedisConnection::Open(const TRedisAddress& address, TRedisDeadline deadline) {
    Close();
    FAddress = address;
    FError.clear();
    const THiredis* api = Hiredis();
    if (!api) return Fail(std::string("the Redis client library ") + HiredisLibraryName() + " cannot be loaded");
    // hiredis writes to its socket with write(): a server that closes first would raise SIGPIPE.
    // A library inside a web server leaves the server's signals alone (servers ignore it anyway).
    if (!RunsAsLibrary()) IgnoreBrokenPipe();
    // hiredis would look the name up itself, for as long as the resolver takes: it gets the
    // address, found within the budget.
    THostAddress server;
    if (address.UnixPath.empty()) {
        server = LookupHost(address.Host, TLookupFamily::Any, RemainingMs(deadline));
        if (!server.Found) return Fail("cannot connect: " + server.Why);
    }
    bool late = false;
    timeval tv = Remaining(deadline, late);
    FContext = address.UnixPath.empty() ? api->ConnectTcp(server.Text.c_str(), address.Port, tv)
                                        : api->ConnectUnix(address.UnixPath.c_str(), tv);
    if (!FContext) return Fail("out of memory");
    if (FContext->err) return Fail(std::string("cannot connect: ") + FContext->errstr);
    TRedisReply reply;
    if (!address.Password.empty()) {
        std::vector<std::string> auth{"AUTH"};
        if (!address.User.empty()) auth.push_back(address.User);
        auth.push_back(address.Password);
        if (!Command(auth, reply, deadline)) return false;
        if (reply.Kind == TRedisReply::TKind::Error) return Fail("the server refused the login: " + reply.Text);
    }
    if (address.Db != 0) {
        if (!Command({"SELECT", std::to_string(address.Db)}, reply, deadline)) return false;
        if (reply.Kind == TRedisReply::TKind::Error) return Fail("the server refused the database: " + reply.Text);
    }
    return true;
}

bool TRedisConnection::Command(const std::vector<std::string>& args, TRedisReply& reply, TRedisDeadline deadline) {
    if (!FContext) return Fail(FError.empty() ? "not connected" : FError);
    bool late = false;
    timeval tv = Remaining(deadline, late);
    if (late) return Fail("no answer in time");
    const THiredis* api = Hiredis();
    api->SetTimeout(FContext, tv);
    std::vector<const char*> argv;
    std::vector<size_t> lengths;
    for (const std::string& a : args) {
        argv.push_back(a.data());
        lengths.push_back(a.size());
    }
    auto* r = static_cast<redisReply*>(api->CommandArgv(FContext, static_cast<int>(argv.size()), argv.data(), lengths.data()));
    if (!r) {
        // A socket timeout reads as "Resource temporarily unavailable": say what it means.
        Remaining(deadline, late);
        std::string why = late ? "no answer in time" : FContext->errstr;
        return Fail(why.empty() ? "connection lost" : why);
    }
    ReadReply(r, reply);
    api->FreeReply(r);
    return true;
}

}  // namespace velmora

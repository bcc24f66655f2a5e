// One blocking connection to a Redis server, every step bounded by a deadline. Not thread-safe:
// each thread that talks to the store owns its own (see the shared store in app/).
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "RedisAddress.h"

struct redisContext;

namespace velmora {

using TRedisDeadline = std::chrono::steady_clock::time_point;

struct TRedisReply {
    enum class TKind { Nil, Integer, Text, Status, Error, Array } Kind = TKind::Nil;
    long long Integer = 0;
    std::string Text;  // Text, Status and Error replies
};

class TRedisConnection {
public:
    TRedisConnection() = default;
    ~TRedisConnection();
    TRedisConnection(const TRedisConnection&) = delete;
    TRedisConnection& operator=(const TRedisConnection&) = delete;

    // Connects, logs in and chooses the database, all before deadline; false with Error() set
    // (the server's own words when it refused the login).
    bool Open(const TRedisAddress& address, TRedisDeadline deadline);
    bool IsOpen() const noexcept { return FContext != nullptr; }
    // Sends one command and reads its reply before deadline. A reply of kind Error is an answer;
    // false only when the connection failed (it is then closed, Error() says why).
    bool Command(const std::vector<std::string>& args, TRedisReply& reply, TRedisDeadline deadline);
    void Close() noexcept;
    const std::string& Error() const noexcept { return FError; }
    // The address it was opened with (a changed setting opens another).
    const TRedisAddress& Address() const noexcept { return FAddress; }

private:
    bool Fail(const std::string& why);

    redisContext* FContext = nullptr;
    TRedisAddress FAddress;
    std::string FError;
};

}  // namespace velmora

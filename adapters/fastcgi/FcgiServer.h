// TServer: the event loop of a FastCGI server. One thread reads every connection and collects its
// requests (TConnection); complete requests go to the worker pool; answers come back to the loop,
// which writes them without blocking. Idle connections and slow peers cost a descriptor, no thread.
// With a listener, idle workers take new connections themselves and serve a request that came whole
// with its connection on the spot; everything else they hand to the loop.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "EventLoop.h"
#include "FcgiConnection.h"

namespace velmora {
class TListener;
}

namespace velmora::fcgi {

class TWorkers;

struct TServerLimits {
    int Threads = 4;            // 0: requests run on the loop's own thread
    int MaxConnections = 1024;  // past it the longest idle, else the longest arriving, connection is closed
    int RequestSeconds = 30;    // for a request's head and body to arrive, and for a peer to read an answer
    int IdleSeconds = 60;       // a kept connection waiting for its next request
    long long BodyMemory = 256LL << 20;  // request body bytes held at once, all connections together
};

// Runs one request on a worker thread and returns its answer's stream records (not END_REQUEST).
using TRunRequest = std::function<std::string(TRequest& request)>;

// Run on one thread; AddConnection and Stop may be called from any.
class TServer {
public:
    TServer(const TServerLimits& limits, TConnectionRules rules, TRunRequest run);
    ~TServer();
    TServer(const TServer&) = delete;
    TServer& operator=(const TServer&) = delete;

    // Hands over a connected socket, which the server then owns.
    void AddConnection(int fd);
    // Serves until Stop, or a close signal when watchCloseSignal (the listener, if any, stops taking
    // connections, and the requests under way finish first), or, with untilNoConnections, as soon
    // as no connection is left. listener may be null. False when the loop could not start.
    bool Run(TListener* listener, bool watchCloseSignal, bool untilNoConnections);
    // Ends Run as a close signal would.
    void Stop();
private:
    using TClock = std::chrono::steady_clock;
    struct TConn;

    void Accept();
    bool RoomForOneMore();
    void Admit(int fd);
    void Admit(std::unique_ptr<TConn> c);
    void ReadFrom(TConn& c, std::vector<char>& buffer);
    void WriteTo(TConn& c);
    std::string RunGuarded(TRequest& request);
    void ServeTaken(int fd);
    void TakingTrouble(int code);
    void LoopTakes(bool on);
    void Settle(uint64_t key);
    void Hand(uint64_t key, TConn& c);
    void TakeMail();
    void Sweep();
    void BeginStop();
    void Drop(uint64_t key);
    bool MakeRoom();
    void AtTheLimit();

    const TServerLimits FLimits;
    const std::unique_ptr<TBodyBudget> FBodyBudget;  // before FRules, which points at it
    const TConnectionRules FRules;
    const TRunRequest FRun;
    TEventLoop FLoop;
    TListener* FListener = nullptr;
    std::unordered_map<uint64_t, std::unique_ptr<TConn>> FConns;
    uint64_t FNextKey = 1;
    bool FStopping = false;
    bool FListenerPaused = false;  // out of descriptors: not listened to until the next sweep
    bool FLoopTakes = false;       // the loop takes new connections (else the workers do)
    // A burst at the connection limit, logged once as it begins and once as it ends.
    bool FAtLimit = false;
    long FClosedForRoom = 0, FRefused = 0;
    std::vector<char> FReadBuffer;

    // Handed in by other threads; guarded by FMailLock.
    std::mutex FMailLock;
    std::vector<int> FNewFds;
    std::vector<std::unique_ptr<TConn>> FPassed;  // taken by workers, served on by the loop
    std::vector<std::pair<uint64_t, std::string>> FAnswers;
    bool FStopAsked = false;
    int FTakingTrouble = 0;  // a TListener code a worker met, for the loop to act on

    // Connections workers have taken and not yet closed or passed on: the loop ends after them.
    std::atomic<int> FInHand{0};
    std::atomic<bool> FStopBegun{false};

    // Last, so that it is destroyed first: its threads post to the members above.
    std::unique_ptr<TWorkers> FWorkers;
};

}  // namespace velmora::fcgi

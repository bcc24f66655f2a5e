// The loop of TServer: connections are read as their bytes come, requests handed to workers only
// when complete, answers written as far as the peer takes them. Deadlines are looked at a few
// times a second, so every limit holds within a quarter of a second. Also the workers' side of a
// connection they took themselves, up to where they pass it to the loop.
#include "FcgiServer.h"

#include "FcgiWorkers.h"
#include "HttpEng.h"
#include "Listener.h"

namespace velmora::fcgi {

namespace {

constexpr uint64_t kListenerToken = 0;
constexpr auto kSweepEvery = std::chrono::milliseconds(250);
constexpr size_t kReadSlice = 65536;
// A peer that sends management records without reading the answers is no longer read from
// once this much waits for it; it then reads, or loses the connection at its write deadline.
constexpr size_t kMaxPendingOutput = 1 << 20;

TConnectionRules WithBudget(TConnectionRules rules, TBodyBudget* budget) {
    rules.BodyBudget = budget;
    return rules;
}

}  // namespace

struct TServer::TConn {
    TConn(int fd, const TConnectionRules& rules) : Fd(fd), Machine(rules) {}
    int Fd;
    TConnection Machine;
    TConnection::TPhase Seen = TConnection::TPhase::Idle;
    TClock::time_point Deadline;   // for the request arriving, or for the next one of a kept connection
    TClock::time_point IdleSince;  // the longest idle is closed first when connections run out
    TClock::time_point ArrivingSince;  // then the one whose request has been arriving longest
    TClock::time_point WriteSince; // the last time the peer took bytes, while some wait
    bool Reading = true, Writing = false;
    bool PeerDone = false;
    bool Failed = false;  // a read or write failed: the peer is gone
};

TServer::TServer(const TServerLimits& limits, TConnectionRules rules, TRunRequest run)
    : FLimits(limits),
      FBodyBudget(std::make_unique<TBodyBudget>(limits.BodyMemory)),
      FRules(WithBudget(std::move(rules), FBodyBudget.get())), FRun(std::move(run)), FReadBuffer(kReadSlice) {
    if (limits.Threads > 0) FWorkers = std::make_unique<TWorkers>(limits.Threads);
}

TServer::~TServer() {
    FWorkers.reset();  // waits for the requests still running; their answers go nowhere
    for (auto& [key, c] : FConns) CloseConnection(c->Fd);
    for (auto& c : FPassed) CloseConnection(c->Fd);
    for (int fd : FNewFds) CloseConnection(fd);
}

void TServer::AddConnection(int fd) {
    {
        std::lock_guard<std::mutex> hold(FMailLock);
        FNewFds.push_back(fd);
    }
    FLoop.Wake();
}

void TServer::Stop() {
    {
        std::lock_guard<std::mutex> hold(FMailLock);
        FStopAsked = true;
    }
    FLoop.Wake();
}

bool TServer::Run(TListener* listener, bool watchCloseSignal, bool untilNoConnections) {
    if (!FLoop.Ok() || (FLimits.Threads > 0 && FWorkers->Started() == 0)) return false;
    FListener = listener;
    if (FListener && FWorkers) {
        // Counted in hand before the accept, so that a stopping loop never ends between a worker's
        // accept and its count.
        auto take = [this] {
            ++FInHand;
            const int fd = FListener->TryAccept();
            if (fd < 0) --FInHand;
            return fd;
        };
        FWorkers->SetTakingWith({FListener->Fd(), take, [this](int fd) { ServeTaken(fd); },
                                 [this](int code) { TakingTrouble(code); }});
        FWorkers->SetTaking(true);
    } else if (FListener) {
        LoopTakes(true);
    }
    if (watchCloseSignal) FLoop.WatchCloseSignal();
    TakeMail();
    std::vector<TLoopEvent> events;
    auto nextSweep = TClock::now() + kSweepEvery;
    while (!((FStopping || untilNoConnections) && FConns.empty() && FInHand == 0)) {
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(nextSweep - TClock::now());
        FLoop.Wait(static_cast<int>(std::max<long long>(0, wait.count())), events);
        for (const TLoopEvent& e : events) {
            if (e.Token == TEventLoop::kWakeToken) TakeMail();
            else if (e.Token == TEventLoop::kCloseSignalToken) BeginStop();
            else if (e.Token == kListenerToken) Accept();
            else if (auto it = FConns.find(e.Token); it != FConns.end()) {
                TConn& c = *it->second;
                // Gone both ways while not read from: no answer can reach it any more.
                if (e.Readable && c.Reading) ReadFrom(c, FReadBuffer);
                if (c.Failed || (e.Hangup && !c.Reading)) Drop(e.Token);
                else Settle(e.Token);
            }
        }
        if (TClock::now() >= nextSweep) {
            Sweep();
            nextSweep = TClock::now() + kSweepEvery;
        }
    }
    return true;
}

void TServer::TakeMail() {
    std::vector<int> fds;
    std::vector<std::unique_ptr<TConn>> passed;
    std::vector<std::pair<uint64_t, std::string>> answers;
    bool stop = false;
    int trouble = 0;
    {
        std::lock_guard<std::mutex> hold(FMailLock);
        fds.swap(FNewFds);
        passed.swap(FPassed);
        answers.swap(FAnswers);
        stop = FStopAsked;
        std::swap(trouble, FTakingTrouble);
    }
    for (int fd : fds) {
        MakeNonBlocking(fd);
        Admit(fd);
    }
    for (auto& c : passed) {
        // An answer still to write is delivered even at the limit (a worker passes one at a time);
        // a connection that waits for a request counts as a new one, or silent peers flooding the
        // listener would pile up past it.
        const bool answered = !c->Machine.Output().empty() || c->Machine.Phase() == TConnection::TPhase::Closing;
        if (answered || RoomForOneMore()) Admit(std::move(c));
        else CloseConnection(c->Fd);
    }
    if (trouble == TListener::kOutOfDescriptors && !FStopping) {
        // The loop's own accepting knows what to do: close the longest idle connection, or wait.
        LoopTakes(true);
    } else if (trouble != 0 && !FStopping) {
        WriteLog("FastCGI server stops: the listening socket failed");
        BeginStop();
    }
    for (auto& [key, answer] : answers) {
        auto it = FConns.find(key);
        if (it == FConns.end()) continue;  // the peer went away meanwhile
        it->second->Machine.Finish(answer);
        Settle(key);
    }
    if (stop && !FStopping) BeginStop();
}

void TServer::Accept() {
    for (;;) {
        const int fd = FListener->TryAccept();
        if (fd >= 0) {
            Admit(fd);
            continue;
        }
        if (fd == TListener::kNoConnection) return;
        if (fd == TListener::kOutOfDescriptors) {
            // The backlog keeps the connection; one closed connection makes room for it.
            if (MakeRoom()) continue;
            WriteLog("FastCGI connection waits: out of descriptors, no idle or arriving connection to close");
            FLoop.Forget(FListener->Fd());
            FListenerPaused = true;
            return;  // listened to again at the next sweep
        }
        WriteLog("FastCGI server stops: the listening socket failed");
        BeginStop();
        return;
    }
}

// At the limit a new connection is taken in place of an old one that serves nobody (idle), else of
// the one whose request has been arriving longest: peers holding half-sent requests open cannot
// lock the server out. Refused only while every connection runs or answers a request.
bool TServer::RoomForOneMore() {
    if (FStopping) return false;
    if (FConns.size() < static_cast<size_t>(FLimits.MaxConnections)) return true;
    AtTheLimit();
    if (MakeRoom()) return true;
    ++FRefused;
    return false;
}

// One log line as a burst begins; Sweep writes its sum once the connections are well below the limit.
void TServer::AtTheLimit() {
    if (FAtLimit) return;
    FAtLimit = true;
    WriteLog("FastCGI connections reached the limit of " + std::to_string(FLimits.MaxConnections) +
             ": the longest idle or arriving ones are closed for new ones");
}

void TServer::Admit(int fd) {
    if (RoomForOneMore()) Admit(std::make_unique<TConn>(fd, FRules));
    else CloseConnection(fd);
}

void TServer::Admit(std::unique_ptr<TConn> c) {
    const uint64_t key = FNextKey++;
    c->IdleSince = TClock::now();
    c->Deadline = c->IdleSince + std::chrono::seconds(FLimits.RequestSeconds);
    if (!FLoop.WatchNew(c->Fd, key, true, false)) {
        CloseConnection(c->Fd);
        return;
    }
    FConns.emplace(key, std::move(c));
    Settle(key);
}

// Reads what has come, a few slices at a time so that one busy peer does not starve the others
// (the loop is level-triggered: what is left is reported again).
void TServer::ReadFrom(TConn& c, std::vector<char>& buffer) {
    for (int slice = 0; slice < 4; ++slice) {
        const long n = ReadSome(c.Fd, buffer.data(), buffer.size());
        if (n == kIoWouldBlock) return;
        if (n == kIoFailed) {
            c.Failed = true;
            return;
        }
        if (n == 0) {
            c.PeerDone = true;
            c.Machine.PeerDone();
            return;
        }
        c.Machine.Feed(std::string_view(buffer.data(), static_cast<size_t>(n)));
        if (c.Machine.Phase() == TConnection::TPhase::Closing || c.Machine.Output().size() > kMaxPendingOutput) return;
        if (static_cast<size_t>(n) < buffer.size()) return;
    }
}

void TServer::WriteTo(TConn& c) {
    std::string& out = c.Machine.Output();
    size_t done = 0;
    while (done < out.size()) {
        const long n = WriteSome(c.Fd, out.data() + done, out.size() - done);
        if (n == kIoFailed) {
            c.Failed = true;
            break;
        }
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    if (done > 0) c.WriteSince = TClock::now();
    out.erase(0, done);
}

// After anything happened to a connection: a complete request goes to a worker, waiting bytes
// are written, deadlines follow the phase, and the loop is told what to watch for.
void TServer::Settle(uint64_t key) {
    auto it = FConns.find(key);
    if (it == FConns.end()) return;
    TConn& c = *it->second;
    if (c.Machine.Phase() == TConnection::TPhase::Ready) Hand(key, c);
    const bool wasWaiting = c.Writing;
    if (!c.Machine.Output().empty()) WriteTo(c);
    if (c.Failed) return Drop(key);
    const TConnection::TPhase phase = c.Machine.Phase();
    const auto now = TClock::now();
    if (phase != c.Seen) {
        if (c.Seen == TConnection::TPhase::Idle) {
            c.Deadline = now + std::chrono::seconds(FLimits.RequestSeconds);
            c.ArrivingSince = now;
        }
        if (phase == TConnection::TPhase::Idle) {
            c.IdleSince = now;
            c.Deadline = now + std::chrono::seconds(FLimits.IdleSeconds);
        }
        c.Seen = phase;
    }
    const bool pending = !c.Machine.Output().empty();
    if (pending && !wasWaiting) c.WriteSince = now;
    if (!pending && (phase == TConnection::TPhase::Closing || (FStopping && phase == TConnection::TPhase::Idle)))
        return Drop(key);
    const bool read = !c.PeerDone && phase != TConnection::TPhase::Closing && c.Machine.Output().size() <= kMaxPendingOutput;
    if (read != c.Reading || pending != c.Writing) {
        c.Reading = read;
        c.Writing = pending;
        FLoop.Watch(c.Fd, key, read, pending);
    }
}

std::string TServer::RunGuarded(TRequest& request) {
    try {
        return FRun(request);
    } catch (const std::exception& e) {
        // Out of memory, say: that request is lost, the server serves on.
        WriteLog(std::string("FastCGI request lost: ") + e.what());
        return std::string();
    }
}

void TServer::Hand(uint64_t key, TConn& c) {
    auto request = std::make_shared<TRequest>(c.Machine.TakeRequest());
    auto run = [this, request] { return RunGuarded(*request); };
    if (!FWorkers) {
        c.Machine.Finish(run());
        return;
    }
    FWorkers->Post([this, key, run] {
        std::string answer = run();
        {
            std::lock_guard<std::mutex> hold(FMailLock);
            FAnswers.emplace_back(key, std::move(answer));
        }
        FLoop.Wake();
    });
}

void TServer::Sweep() {
    const auto now = TClock::now();
    const auto writeLimit = std::chrono::seconds(FLimits.RequestSeconds);
    std::vector<uint64_t> late;
    for (auto& [key, c] : FConns) {
        const TConnection::TPhase phase = c->Machine.Phase();
        const bool arriving = phase == TConnection::TPhase::Head || phase == TConnection::TPhase::Body;
        if (c->Writing && now - c->WriteSince > writeLimit) {
            WriteLog("FastCGI connection closed: the answer was not read for " + std::to_string(FLimits.RequestSeconds) + " s");
            late.push_back(key);
        } else if ((arriving || phase == TConnection::TPhase::Idle) && now > c->Deadline) {
            if (arriving)
                WriteLog("FastCGI connection closed: the request did not arrive within " +
                         std::to_string(FLimits.RequestSeconds) + " s");
            late.push_back(key);
        }
    }
    for (uint64_t key : late) Drop(key);
    if (FAtLimit && FConns.size() < static_cast<size_t>(FLimits.MaxConnections) * 9 / 10) {
        WriteLog("FastCGI connections below the limit again: " + std::to_string(FClosedForRoom) +
                 " closed to make room, " + std::to_string(FRefused) + " refused");
        FAtLimit = false;
        FClosedForRoom = FRefused = 0;
    }
    if (FListenerPaused && !FStopping) {
        FLoop.Watch(FListener->Fd(), kListenerToken, true, false);
    } else if (FLoopTakes && FWorkers && !FStopping && FConns.size() < static_cast<size_t>(FLimits.MaxConnections)) {
        // Descriptors were short a while ago and the loop has taken connections since: the
        // workers try again.
        LoopTakes(false);
    }
    FListenerPaused = false;
}

void TServer::LoopTakes(bool on) {
    if (on == FLoopTakes) return;
    FLoopTakes = on;
    if (on) {
        if (FWorkers) FWorkers->SetTaking(false);
        FLoop.Watch(FListener->Fd(), kListenerToken, true, false);
    } else {
        FLoop.Forget(FListener->Fd());
        FWorkers->SetTaking(true);
    }
}

// On a worker's thread. A request that came whole with its connection, the usual case behind a
// web server that opens a connection per request, is run and answered here: no hand-over to the
// loop and back. The loop gets what is left: a request still arriving, an answer the peer has not
// taken yet, a kept connection, a peer talking management records.
void TServer::ServeTaken(int fd) {
    thread_local std::vector<char> buffer(kReadSlice);
    auto c = std::make_unique<TConn>(fd, FRules);
    TConnection& m = c->Machine;
    ReadFrom(*c, buffer);
    if (!c->Failed && m.Phase() == TConnection::TPhase::Ready) {
        TRequest request = m.TakeRequest();
        std::string answer = RunGuarded(request);
        // What the peer sent meanwhile (an ABORT_REQUEST, its end) counts as when the loop reads it.
        if (!c->PeerDone) ReadFrom(*c, buffer);
        if (!c->Failed) {
            m.Finish(answer);
            WriteTo(*c);
        }
    }
    if (c->Failed || (m.Output().empty() && m.Phase() == TConnection::TPhase::Closing)) {
        CloseConnection(fd);
    } else {
        {
            std::lock_guard<std::mutex> hold(FMailLock);
            FPassed.push_back(std::move(c));
        }
        FLoop.Wake();
    }
    if (--FInHand == 0 && FStopBegun) FLoop.Wake();
}

// On a worker's thread: its accept failed otherwise than for want of a connection, and the
// workers have stopped taking (this may come while the server ends: nothing here but the mail).
void TServer::TakingTrouble(int code) {
    {
        std::lock_guard<std::mutex> hold(FMailLock);
        FTakingTrouble = code;
    }
    FLoop.Wake();
}

void TServer::BeginStop() {
    if (FStopping) return;
    FStopping = true;
    FStopBegun = true;
    if (FListener) {
        if (FWorkers) FWorkers->SetTaking(false);
        FLoop.Forget(FListener->Fd());
        FListener->Stop();
    }
    std::vector<uint64_t> keys;
    for (auto& [key, c] : FConns) keys.push_back(key);
    for (uint64_t key : keys) Settle(key);
}

void TServer::Drop(uint64_t key) {
    auto it = FConns.find(key);
    if (it == FConns.end()) return;
    FLoop.Forget(it->second->Fd);
    CloseConnection(it->second->Fd);
    FConns.erase(it);
}

bool TServer::MakeRoom() {
    auto idle = FConns.end(), arriving = FConns.end();
    for (auto it = FConns.begin(); it != FConns.end(); ++it) {
        const TConn& c = *it->second;
        const TConnection::TPhase phase = c.Machine.Phase();
        if (phase == TConnection::TPhase::Idle && !c.Writing) {
            if (idle == FConns.end() || c.IdleSince < idle->second->IdleSince) idle = it;
        } else if (phase == TConnection::TPhase::Head || phase == TConnection::TPhase::Body) {
            if (arriving == FConns.end() || c.ArrivingSince < arriving->second->ArrivingSince) arriving = it;
        }
    }
    const auto victim = idle != FConns.end() ? idle : arriving;
    if (victim == FConns.end()) return false;
    Drop(victim->first);
    ++FClosedForRoom;
    return true;
}

}  // namespace velmora::fcgi

// A real Redis server for tests: Debian's redis-server on a free loopback port in a temporary
// folder, with a password and nothing written to disk, stopped (and paused) by its process id.
#pragma once

#include <signal.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "TempDir.h"
#include "WebServer.h"

namespace velmora::test {

class RedisServer {
public:
    explicit RedisServer(std::string password = "s3cret-for-tests") : FPassword(std::move(password)) {
        FPort = FreeLoopbackPort();
        Start();
    }
    ~RedisServer() { Stop(); }
    RedisServer(const RedisServer&) = delete;
    RedisServer& operator=(const RedisServer&) = delete;

    // Starts it (again) on its port, empty: it keeps nothing between runs.
    void Start() {
        FServer = std::make_unique<TBackground>(
            std::vector<std::string>{"/usr/bin/redis-server", "--port", std::to_string(FPort), "--bind", "127.0.0.1",
                                     "--save", "", "--appendonly", "no", "--requirepass", FPassword, "--dir", FDir.Path()},
            FDir / "redis.log");
        if (!WaitForListener("127.0.0.1:" + std::to_string(FPort)))
            throw std::runtime_error("redis-server did not start: " + ReadWholeFile(FDir / "redis.log"));
    }
    void Stop() {
        if (!FServer) return;
        Resume();
        FServer->Stop();
        FServer.reset();
    }
    // A server that takes connections (the kernel does) but answers nothing: a hung store.
    void Pause() {
        if (FServer) ::kill(FServer->Pid(), SIGSTOP);
    }
    void Resume() {
        if (FServer) ::kill(FServer->Pid(), SIGCONT);
    }

    int Port() const noexcept { return FPort; }
    const std::string& Password() const noexcept { return FPassword; }
    // The store value of VELMORA.CONF that reaches it.
    std::string Url(const std::string& password) const {
        return "redis://:" + password + "@127.0.0.1:" + std::to_string(FPort);
    }
    std::string Url() const { return Url(FPassword); }

    // What redis-cli prints for one command, without the last line break.
    std::string Cli(const std::vector<std::string>& command) const {
        TChildRun run;
        run.Args = {"/usr/bin/redis-cli", "-h", "127.0.0.1", "-p", std::to_string(FPort), "-a", FPassword, "--no-auth-warning"};
        run.Args.insert(run.Args.end(), command.begin(), command.end());
        run.Env = InheritedEnvironment();
        std::string out = RunChild(run).Out;
        while (!out.empty() && out.back() == '\n') out.pop_back();
        return out;
    }

private:
    TempDir FDir;
    std::string FPassword;
    int FPort = 0;
    std::unique_ptr<TBackground> FServer;
};

}  // namespace velmora::test

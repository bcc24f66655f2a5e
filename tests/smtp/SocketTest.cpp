// The socket layer: error numbers and texts, address resolution, and TTCPClient's states and
// events against a loopback listener, with notifications through the thread's message queue.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

#include "HSockets.h"
#include "SysUtils.h"
#include "System.h"

namespace velmora {
namespace {

// A loopback port with a listener (listening) or without one.
struct LoopbackPort {
    explicit LoopbackPort(bool listening) {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), len), 0);
        EXPECT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len), 0);
        port = ntohs(a.sin_port);
        if (listening) {
            EXPECT_EQ(::listen(fd, 4), 0);
        } else {
            ::close(fd);
            fd = -1;
        }
    }
    ~LoopbackPort() {
        if (fd >= 0) ::close(fd);
    }
    int fd = -1;
    int port = 0;
};

// Dispatches the thread's messages until done() or 5 seconds have passed.
// A deadline no lookup of these tests comes near.
uint64_t Soon() { return TickCount() + 5000; }

bool PumpUntil(const std::function<bool()>& done) {
    uint64_t until = TickCount() + 5000;
    TMessageQueue& queue = TMessageQueue::Current();
    while (!done() && TickCount() < until) {
        queue.WaitMessage(static_cast<int>(until - TickCount()));
        queue.ProcessMessages();
    }
    return done();
}

TEST(Sockets, ErrorNumbersAndTexts) {
    TCustomCGISocket socket;
    EXPECT_EQ(socket.State(), ssReady);
    EXPECT_EQ(socket.Protocol, 0);
    EXPECT_EQ(socket.SocketType, 3);
    std::vector<std::pair<int, std::string>> reported;
    socket.OnError = [&](TComponent*, int code, const std::string& text) {
        reported.emplace_back(code, text);
    };
    const std::pair<int, const char*> texts[] = {
        {0, ""}, {10000, ""}, {11005, ""}, {10107, ""},
        {10004, "Interrupted system call"}, {10035, "Operation would block"},
        {10059, "Too many references:can't splice"}, {10061, "Connection refused"},
        {10093, "Winsock not initialized"}, {11001, "Host not found"},
        {11004, "Valid name, no data record of requested type"},
    };
    for (const auto& [code, text] : texts) {
        socket.ReportError(code);
        EXPECT_EQ(socket.ErrorCode(), code);
        EXPECT_EQ(socket.ErrorText(), text) << code;
        EXPECT_EQ(reported.back(), std::make_pair(code, std::string(text)));
    }
}

TEST(Sockets, ResolveAddress) {
    TTCPClient client;
    EXPECT_EQ(client.Protocol, 6);
    EXPECT_EQ(client.SocketType, 1);
    TSockAddrIn byNumber, byName;
    ASSERT_TRUE(client.ResolveAddress("127.0.0.1", "25", byNumber, Soon()));
    ASSERT_TRUE(client.ResolveAddress("127.0.0.1", "smtp", byName, Soon()));
    EXPECT_EQ(byNumber.Family, 2);
    EXPECT_EQ(byNumber.Port, htons(25));
    EXPECT_EQ(byName.Port, byNumber.Port);
    EXPECT_EQ(byNumber.Addr, htonl(INADDR_LOOPBACK));
    ASSERT_TRUE(client.ResolveAddress("10.1.2.3", "2525", byNumber, Soon()));
    EXPECT_EQ(byNumber.Addr, inet_addr("10.1.2.3"));
    ASSERT_TRUE(client.ResolveAddress("localhost", "25", byName, Soon()));  // from /etc/hosts
    EXPECT_EQ(byName.Addr, htonl(INADDR_LOOPBACK));
    EXPECT_THROW(client.ResolveAddress("127.0.0.1", "abc", byNumber, Soon()), EConvertError);
    EXPECT_THROW(client.ResolveAddress("127.0.0.1", "70000", byNumber, Soon()), EConvertError);
    client.RemoteHost = "127.0.0.1";
    client.RemotePort = "abc";
    EXPECT_THROW(client.Connect(Soon()), EConvertError);
    EXPECT_EQ(client.State(), ssReady);
}

TEST(Sockets, ClientStatesAndEvents) {
    LoopbackPort server(true);
    TTCPClient client;
    std::vector<std::string> events;
    client.OnConnect = [&](TComponent*, TSocket) { events.push_back("connect"); };
    client.OnRead = [&](TComponent*, TSocket) { events.push_back("read"); };
    client.OnClose = [&](TComponent*, TSocket) { events.push_back("close"); };
    client.Disconnect();  // on a ready client: nothing
    EXPECT_EQ(client.State(), ssReady);
    client.RemoteHost = "127.0.0.1";
    client.RemotePort = std::to_string(server.port);
    client.Connect(Soon());
    EXPECT_EQ(client.State(), ssConnecting);
    ASSERT_TRUE(PumpUntil([&] { return client.State() == ssConnected; }));
    TSocket first = client.Socket();
    client.Connect(Soon());  // connected: nothing
    EXPECT_EQ(client.Socket(), first);

    int peer = ::accept(server.fd, nullptr, nullptr);
    ASSERT_GE(peer, 0);
    ASSERT_EQ(::send(peer, "hello", 5, 0), 5);
    ASSERT_TRUE(PumpUntil([&] { return events.size() >= 2; }));
    EXPECT_EQ(client.ReceiveText(), "hello");
    EXPECT_EQ(client.ReceiveText(), "");  // nothing more yet: no error either
    EXPECT_EQ(client.ErrorCode(), 0);
    EXPECT_TRUE(client.SendText("ping"));
    char buf[8] = {};
    EXPECT_EQ(::recv(peer, buf, sizeof buf, 0), 4);
    ::close(peer);
    ASSERT_TRUE(PumpUntil([&] { return client.State() == ssReady; }));
    EXPECT_EQ(events, (std::vector<std::string>{"connect", "read", "close"}));
    EXPECT_EQ(client.Socket(), INVALID_SOCKET);
}

TEST(Sockets, ErrorHandlerThrowingWhileTheClientIsFreedDoesNotEndTheProcess) {
    LoopbackPort server(true);
    auto client = std::make_unique<TTCPClient>();
    client->RemoteHost = "127.0.0.1";
    client->RemotePort = std::to_string(server.port);
    client->Connect(Soon());
    ASSERT_TRUE(PumpUntil([&] { return client->State() == ssConnected; }));
    int raised = 0;
    client->OnError = [&](TComponent*, int, const std::string&) {
        ++raised;
        throw Exception("handler fails");
    };
    // The descriptor no longer names the watched socket, so releasing it reports an error.
    int null = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(null, 0);
    ASSERT_GE(::dup2(null, static_cast<int>(client->Socket())), 0);
    ::close(null);
    client.reset();
    EXPECT_GE(raised, 1);
}

TEST(Sockets, RefusedConnection) {
    LoopbackPort nobody(false);
    TTCPClient client;
    client.RemoteHost = "127.0.0.1";
    client.RemotePort = std::to_string(nobody.port);
    client.Connect(Soon());
    ASSERT_TRUE(PumpUntil([&] { return client.ErrorCode() != 0; }));
    EXPECT_EQ(client.ErrorCode(), 10061);
    EXPECT_EQ(client.ErrorText(), "Connection refused");
    EXPECT_EQ(client.State(), ssConnecting);
    client.Disconnect();
    EXPECT_EQ(client.State(), ssReady);
    EXPECT_EQ(client.Socket(), INVALID_SOCKET);
}

}  // namespace
}  // namespace velmora

// Socket readiness as WM_SOCKET notifications: read, close after the last data, connect with and
// without error, reset, and waits on sockets with nothing new to say that block instead of spinning.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "Messages.h"
#include "WaitClock.h"

namespace velmora {
namespace {

using Clock = TestClock;

struct Note {
    uintptr_t Fd;
    long Event;
    int Error;
    std::thread::id Thread;
};

// A window that records the WM_SOCKET notifications dispatched to it.
class Recorder {
public:
    Recorder() : FQueue(TMessageQueue::Current()) {
        FWindow = FQueue.AllocateHWnd([this](TMsg& m) {
            if (m.Message == WM_SOCKET)
                Notes.push_back(Note{m.WParam, SocketEvent(m.LParam), SocketError(m.LParam), std::this_thread::get_id()});
        });
    }
    ~Recorder() { FQueue.DeallocateHWnd(FWindow); }
    HWND Window() const { return FWindow; }

    // Waits up to ms for notifications and dispatches them; the events seen in this call.
    std::vector<long> Wait(int ms) {
        size_t first = Notes.size();
        if (FQueue.WaitMessage(ms)) FQueue.ProcessMessages();
        std::vector<long> events;
        for (size_t i = first; i < Notes.size(); ++i) events.push_back(Notes[i].Event);
        return events;
    }

    std::vector<Note> Notes;

private:
    TMessageQueue& FQueue;
    HWND FWindow;
};

std::string Drain(int fd, size_t max) {
    char buf[256];
    ssize_t n = recv(fd, buf, std::min(max, sizeof buf), 0);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

void Send(int fd, const std::string& s) { ASSERT_EQ(send(fd, s.data(), s.size(), 0), static_cast<ssize_t>(s.size())); }

using Events = std::vector<long>;

TEST(SocketNotify, ReadIsReportedOnceUntilReadAndCloseWaitsForTheData) {
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    Recorder r;
    ASSERT_EQ(SelectSocket(sv[0], r.Window(), WM_SOCKET, FD_READ | FD_CLOSE), 0);
    EXPECT_EQ(r.Wait(50), Events{});

    Send(sv[1], "abc");
    EXPECT_EQ(r.Wait(1000), Events{FD_READ});
    ASSERT_EQ(r.Notes.size(), 1u);
    EXPECT_EQ(r.Notes[0].Fd, static_cast<uintptr_t>(sv[0]));
    EXPECT_EQ(r.Notes[0].Error, 0);
    EXPECT_EQ(r.Notes[0].Thread, std::this_thread::get_id());
    // Not read yet: more data brings no second notification.
    Send(sv[1], "def");
    EXPECT_EQ(r.Wait(80), Events{});

    // A partial read re-enables: data is left, so it is reported again.
    EXPECT_EQ(Drain(sv[0], 2), "ab");
    ReenableSocketEvent(sv[0], FD_READ);
    EXPECT_EQ(r.Wait(1000), Events{FD_READ});
    EXPECT_EQ(Drain(sv[0], 100), "cdef");
    ReenableSocketEvent(sv[0], FD_READ);
    EXPECT_EQ(r.Wait(80), Events{});

    // The peer sends a last line and closes: the data first, the close only once it is read.
    Send(sv[1], "221 bye\r\n");
    close(sv[1]);
    EXPECT_EQ(r.Wait(1000), Events{FD_READ});
    EXPECT_EQ(r.Wait(80), Events{});
    EXPECT_EQ(Drain(sv[0], 100), "221 bye\r\n");
    ReenableSocketEvent(sv[0], FD_READ);
    EXPECT_EQ(r.Wait(1000), Events{FD_CLOSE});
    EXPECT_EQ(r.Notes.back().Error, 0);
    EXPECT_EQ(r.Wait(80), Events{});

    EXPECT_EQ(SelectSocket(sv[0], r.Window(), WM_SOCKET, 0), 0);
    close(sv[0]);
}

TEST(SocketNotify, SelectFromAnotherThreadReportsOnTheOwner) {
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    Recorder r;
    HWND w = r.Window();
    // The owner is already waiting when another thread selects and the data arrives.
    std::thread other([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        EXPECT_EQ(SelectSocket(sv[0], w, WM_SOCKET, FD_READ | FD_CLOSE), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        Send(sv[1], "x");
    });
    EXPECT_EQ(r.Wait(3000), Events{FD_READ});
    other.join();
    ASSERT_EQ(r.Notes.size(), 1u);
    EXPECT_EQ(r.Notes[0].Thread, std::this_thread::get_id());

    // Deselecting drops a notification that is still pending.
    Drain(sv[0], 10);
    ReenableSocketEvent(sv[0], FD_READ);
    Send(sv[1], "y");
    TMsg m;
    ASSERT_TRUE(TMessageQueue::Current().Peek(m, WM_SOCKET, WM_SOCKET, false));
    EXPECT_EQ(SelectSocket(sv[0], w, WM_SOCKET, 0), 0);
    EXPECT_FALSE(TMessageQueue::Current().Peek(m, WM_SOCKET, WM_SOCKET, false));

    EXPECT_EQ(SelectSocket(-1, w, WM_SOCKET, FD_READ), 10038);
    EXPECT_EQ(SelectSocket(sv[0], 0, WM_SOCKET, FD_READ), 10022);
    close(sv[0]);
    close(sv[1]);
}

int Listener(sockaddr_in& addr) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    addr = sockaddr_in{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 || listen(fd, 4) != 0) return -1;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    return fd;
}

// Selects and connects as the TCP client does: notifications first, then a non-blocking connect.
int StartConnect(Recorder& r, const sockaddr_in& addr) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    EXPECT_EQ(SelectSocket(fd, r.Window(), WM_SOCKET, FD_READ | FD_CONNECT | FD_CLOSE), 0);
    int rc = connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    EXPECT_TRUE(rc == 0 || errno == EINPROGRESS) << "connect: " << errno;
    return fd;
}

TEST(SocketNotify, ConnectSucceedsThenResetIsAClose) {
    sockaddr_in addr;
    int listener = Listener(addr);
    ASSERT_GE(listener, 0);
    Recorder r;
    int fd = StartConnect(r, addr);
    EXPECT_EQ(r.Wait(2000), Events{FD_CONNECT});
    EXPECT_EQ(r.Notes.back().Error, 0);
    ASSERT_EQ(SelectSocket(fd, r.Window(), WM_SOCKET, FD_READ | FD_CLOSE), 0);
    EXPECT_EQ(r.Wait(80), Events{});

    // The server end aborts the connection.
    int served = accept(listener, nullptr, nullptr);
    ASSERT_GE(served, 0);
    linger abort{1, 0};
    setsockopt(served, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    close(served);
    EXPECT_EQ(r.Wait(2000), Events{FD_CLOSE});
    EXPECT_EQ(r.Notes.back().Error, 10054);
    EXPECT_EQ(r.Wait(80), Events{});

    SelectSocket(fd, r.Window(), WM_SOCKET, 0);
    close(fd);
    close(listener);
}

TEST(SocketNotify, ConnectToAClosedPortReportsTheError) {
    sockaddr_in addr;
    int probe = Listener(addr);  // a port that was free a moment ago, and is closed again
    ASSERT_GE(probe, 0);
    close(probe);
    Recorder r;
    int fd = StartConnect(r, addr);
    EXPECT_EQ(r.Wait(2000), Events{FD_CONNECT});
    EXPECT_EQ(r.Notes.back().Error, 10061);
    // A failed connection reports nothing more, and does not keep a waiting thread busy.
    EXPECT_EQ(r.Wait(80), Events{});
    SelectSocket(fd, r.Window(), WM_SOCKET, 0);
    close(fd);
}


TEST(SocketNotify, AcceptAndWriteAreReEnabledByTheCallsThatConsumeThem) {
    sockaddr_in addr;
    int listener = Listener(addr);
    ASSERT_GE(listener, 0);
    Recorder r;
    ASSERT_EQ(SelectSocket(listener, r.Window(), WM_SOCKET, FD_ACCEPT), 0);
    int c1 = socket(AF_INET, SOCK_STREAM, 0), c2 = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(connect(c1, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    EXPECT_EQ(r.Wait(2000), Events{FD_ACCEPT});
    ASSERT_EQ(connect(c2, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    EXPECT_EQ(r.Wait(80), Events{});
    int s1 = accept(listener, nullptr, nullptr);
    ReenableSocketEvent(listener, FD_ACCEPT);
    EXPECT_EQ(r.Wait(2000), Events{FD_ACCEPT});  // the second connection still waits

    // Writable once; after a send that would block, again when there is room.
    ASSERT_EQ(SelectSocket(s1, r.Window(), WM_SOCKET, FD_WRITE), 0);
    EXPECT_EQ(r.Wait(1000), Events{FD_WRITE});
    EXPECT_EQ(r.Wait(50), Events{});
    std::string block(65536, 'x');
    while (send(s1, block.data(), block.size(), 0) > 0) {
    }
    ASSERT_EQ(errno, EAGAIN);
    ReenableSocketEvent(s1, FD_WRITE);
    EXPECT_EQ(r.Wait(80), Events{});
    // The reader drains until the writer hears it has room (the kernel's buffers may need rounds).
    char sink[65536];
    Events seen;
    for (int round = 0; round < 50 && seen.empty(); ++round) {
        while (recv(c1, sink, sizeof sink, MSG_DONTWAIT) > 0) {
        }
        seen = r.Wait(50);
    }
    EXPECT_EQ(seen, Events{FD_WRITE});

    for (int fd : {listener, s1}) SelectSocket(fd, r.Window(), WM_SOCKET, 0);
    for (int fd : {listener, s1, c1, c2}) close(fd);
}

// Every state in which poll would answer at once although nothing is to be reported.
TEST(SocketNotify, WaitsOnQuietSocketsDoNotSpin) {
    Recorder r;
    // Not connecting yet: an unconnected TCP socket polls as hung up.
    int idle = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(SelectSocket(idle, r.Window(), WM_SOCKET, FD_READ | FD_CONNECT | FD_CLOSE), 0);
    // Data waiting, already reported and not read.
    int unread[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, unread), 0);
    ASSERT_EQ(SelectSocket(unread[0], r.Window(), WM_SOCKET, FD_READ | FD_CLOSE), 0);
    Send(unread[1], "data");
    // Peer closed behind unread data.
    int closing[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, closing), 0);
    ASSERT_EQ(SelectSocket(closing[0], r.Window(), WM_SOCKET, FD_READ | FD_CLOSE), 0);
    Send(closing[1], "last");
    close(closing[1]);
    // Closed and reported.
    int gone[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, gone), 0);
    ASSERT_EQ(SelectSocket(gone[0], r.Window(), WM_SOCKET, FD_READ | FD_CLOSE), 0);
    close(gone[1]);
    for (int i = 0; i < 3; ++i) r.Wait(100);
    EXPECT_EQ(r.Notes.size(), 3u);  // FD_READ, FD_READ, FD_CLOSE

    long cpu0 = ThreadCpuMs();
    auto start = Clock::now();
    EXPECT_EQ(r.Wait(300), Events{});
    long waited = MsSince(start);
    long cpu = ThreadCpuMs() - cpu0;
    EXPECT_GE(waited, 295);
    EXPECT_LT(cpu, 50) << "the wait used the processor for " << cpu << " ms";

    for (int fd : {idle, unread[0], unread[1], closing[0], gone[0]}) {
        SelectSocket(fd, r.Window(), WM_SOCKET, 0);
        close(fd);
    }
}

}  // namespace
}  // namespace velmora

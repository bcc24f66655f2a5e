// The sockets one message queue watches (private to the queue): which poll events to ask for, and
// how poll's answer becomes WSAAsyncSelect notifications without reporting one condition twice.
#pragma once

#include <poll.h>

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "Messages.h"

namespace velmora {

struct TSocketNote {
    int Fd;
    HWND Window;
    unsigned Message;
    long Event;
    int Error;  // Winsock number, 0 when none
};

// Not thread-safe: the owning queue guards it with its lock. Poll results are matched by a
// generation number, so an answer for a socket that was re-selected meanwhile is ignored.
class TSocketWatch {
public:
    void Select(int fd, HWND window, unsigned message, long events, bool listening);
    // False when fd was not watched; otherwise where its notifications went.
    bool Remove(int fd, HWND& window, unsigned& message);
    void RemoveWindow(HWND window);
    // True when fd is watched.
    bool Reenable(int fd, long event);
    // Parked sockets (ready, but nothing to report for now) are looked at again.
    void Unpark();
    bool Empty() const { return FEntries.empty(); }

    // Appends a pollfd for each socket that could report something; gens gets their generations.
    void Fill(std::vector<pollfd>& fds, std::vector<uint64_t>& gens) const;
    void Process(const pollfd* fds, const uint64_t* gens, size_t count, std::vector<TSocketNote>& out);

private:
    struct TEntry {
        HWND Window = 0;
        unsigned Message = 0;
        long Events = 0;
        uint64_t Gen = 0;
        bool Listening = false;
        bool ConnectDone = false;  // FD_CONNECT reported (or the socket turned out connected)
        bool ReadArmed = true, WriteArmed = true, AcceptArmed = true;
        bool CloseDone = false;    // FD_CLOSE reported
        bool EofPending = false;   // the peer has closed, but data before the close is unread
        bool Finished = false;     // nothing more can happen on this connection
        bool Parked = false;
    };

    short Wanted(const TEntry& e) const;
    void ProcessConnect(int fd, TEntry& e, short revents, std::vector<TSocketNote>& out);
    void ProcessStream(int fd, TEntry& e, short revents, std::vector<TSocketNote>& out);
    static void Note(std::vector<TSocketNote>& out, int fd, const TEntry& e, long event, int error);

    std::unordered_map<int, TEntry> FEntries;
    uint64_t FNextGen = 1;
};

}  // namespace velmora

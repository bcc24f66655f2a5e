// The bounded look-up: a numeric address parsed at once; a name looked up by a blocking getaddrinfo
// on a self-freeing thread that shares a reference-counted record with every caller waiting for it.
#include "HostLookup.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <new>

#include "Sockets.h"
#include "Thread.h"

namespace velmora {

namespace {

// A silent resolver holds a helper thread for its own time-out (up to 30 s a server, by
// resolv.conf); past this many names at once a look-up fails at once instead of adding threads.
constexpr size_t kMostPendingNames = 32;

// One look-up in flight: owned together by its thread and every caller still waiting for it, so
// that the thread can finish long after the last caller has given up.
struct TPending {
    std::string Key;  // in TPendingNames
    std::string Name;
    TLookupFamily Family = TLookupFamily::IPv4;
    std::mutex Lock;
    std::condition_variable Done;
    bool Finished = false;
    THostAddress Result;
};
using TPendingPtr = std::shared_ptr<TPending>;

// The names being looked up now. Never destroyed: a thread may finish while the process exits.
struct TPendingNames {
    std::mutex Lock;
    std::map<std::string, TPendingPtr> ByKey;
};

TPendingNames& Pending() {
    static auto* names = new TPendingNames;
    return *names;
}

std::string KeyOf(const std::string& name, TLookupFamily family) {
    return (family == TLookupFamily::IPv4 ? "4 " : "* ") + name;
}

// The first IPv4 entry of list, else its first: hiredis, too, tries IPv4 first.
const addrinfo* Preferred(const addrinfo* list) {
    for (const addrinfo* a = list; a; a = a->ai_next)
        if (a->ai_family == AF_INET) return a;
    return list;
}

THostAddress FromEntry(const addrinfo* a) {
    THostAddress found;
    found.Found = true;
    char text[INET6_ADDRSTRLEN] = {};
    if (a->ai_family == AF_INET) {
        found.IPv4 = reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr.s_addr;
        inet_ntop(AF_INET, &found.IPv4, text, sizeof text);
    } else {
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(a->ai_addr)->sin6_addr, text, sizeof text);
    }
    found.Text = text;
    return found;
}

// getaddrinfo with these flags; rc is its return value.
THostAddress Resolve(const std::string& name, TLookupFamily family, int flags, int& rc) {
    addrinfo hints{}, *list = nullptr;
    hints.ai_family = family == TLookupFamily::IPv4 ? AF_INET : AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = flags;
    rc = getaddrinfo(name.c_str(), nullptr, &hints, &list);
    THostAddress result;
    if (rc == 0 && list) {
        result = FromEntry(Preferred(list));
    } else {
        result.Error = rc != 0 ? WinsockErrorFromResolver(rc) : WSAHOST_NOT_FOUND;
        result.Why = name + ": " + (rc != 0 ? gai_strerror(rc) : "no address");
    }
    if (list) freeaddrinfo(list);
    return result;
}

THostAddress Failure(int error, bool timedOut, const std::string& why) {
    THostAddress result;
    result.Error = error;
    result.TimedOut = timedOut;
    result.Why = why;
    return result;
}

void Forget(const TPendingPtr& pending) {
    TPendingNames& names = Pending();
    std::lock_guard<std::mutex> hold(names.Lock);
    auto it = names.ByKey.find(pending->Key);
    if (it != names.ByKey.end() && it->second == pending) names.ByKey.erase(it);
}

// One blocking look-up, then the answer to whoever still waits. Forgotten first: a caller that
// comes after the answer starts a look-up of its own rather than take an old one.
class TLookupThread : public TThread {
public:
    explicit TLookupThread(TPendingPtr pending) : FPending(std::move(pending)) { SetFreeOnTerminate(true); }

protected:
    void Execute() override {
        // Whatever happens, the record is forgotten and its waiters hear: nothing below allocates.
        THostAddress result;
        result.Error = WSAENOBUFS;
        try {
            int rc = 0;
            result = Resolve(FPending->Name, FPending->Family, 0, rc);
        } catch (const std::bad_alloc&) {
        }
        Forget(FPending);
        std::lock_guard<std::mutex> hold(FPending->Lock);
        FPending->Result = std::move(result);
        FPending->Finished = true;
        FPending->Done.notify_all();
    }

private:
    TPendingPtr FPending;
};

// The look-up of name under way, joined or started; null when too many names are waiting already
// or no thread can be made.
TPendingPtr Join(const std::string& name, TLookupFamily family) {
    TPendingNames& names = Pending();
    std::lock_guard<std::mutex> hold(names.Lock);
    const std::string key = KeyOf(name, family);
    auto it = names.ByKey.find(key);
    if (it != names.ByKey.end()) return it->second;
    if (names.ByKey.size() >= kMostPendingNames) return nullptr;
    auto pending = std::make_shared<TPending>();
    pending->Key = key;
    pending->Name = name;
    pending->Family = family;
    auto thread = std::make_unique<TLookupThread>(pending);
    names.ByKey.emplace(key, pending);
    try {
        thread->Start();
    } catch (const EThread&) {
        names.ByKey.erase(key);
        return nullptr;
    }
    thread.release();  // it frees itself when the lookup is over
    return pending;
}

THostAddress Await(const TPendingPtr& pending, uint64_t budgetMs) {
    // A day is more than any resolver takes, and keeps the clock arithmetic far from overflowing.
    const auto wait = std::chrono::milliseconds(std::min<uint64_t>(budgetMs, 86400000));
    std::unique_lock<std::mutex> hold(pending->Lock);
    if (pending->Done.wait_for(hold, wait, [&] { return pending->Finished; }))
        return pending->Result;
    return Failure(WSAETIMEDOUT, true,
                   "name lookup of " + pending->Name + " took longer than " + std::to_string(budgetMs) + " ms");
}

}  // namespace

THostAddress LookupHost(const std::string& name, TLookupFamily family, uint64_t budgetMs) {
    int rc = 0;
    THostAddress numeric = Resolve(name, family, AI_NUMERICHOST, rc);
    if (rc != EAI_NONAME) return numeric;  // an address, or one of the other family
    TPendingPtr pending = Join(name, family);
    if (!pending)
        return Failure(WSATRY_AGAIN, false, "name lookup of " + name + " not started: too many names are waiting for the resolver");
    return Await(pending, budgetMs);
}

}  // namespace velmora

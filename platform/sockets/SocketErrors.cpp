// Resolver results translated into Winsock error numbers (errno values: WinsockErrors.h), and the
// per-thread last socket error, so the socket layer's error-text table applies on this platform.
#include "Sockets.h"

#include "WinsockErrors.h"

#include <cerrno>
#include <netdb.h>

namespace velmora {

namespace {
thread_local int tLastError = 0;
}

int WSAGetLastError() noexcept { return tLastError; }
void WSASetLastError(int code) noexcept { tLastError = code; }

int WinsockErrorFromResolver(int eaiCode) noexcept {
    switch (eaiCode) {
        case 0: return 0;
        case EAI_NONAME: return WSAHOST_NOT_FOUND;
        case EAI_AGAIN: return WSATRY_AGAIN;
        case EAI_FAIL: return WSANO_RECOVERY;
#ifdef EAI_NODATA
        case EAI_NODATA: return WSANO_DATA;
#endif
#ifdef EAI_ADDRFAMILY
        case EAI_ADDRFAMILY: return WSANO_DATA;
#endif
        case EAI_MEMORY: return WSAENOBUFS;
        case EAI_SYSTEM: return WinsockErrorFromErrno(errno);
        default: return WSANO_RECOVERY;
    }
}

}  // namespace velmora

// Protocol, service, host-name and local-name look-ups for the socket layer, from the system's
// databases (/etc/protocols, /etc/services) and resolver; the re-entrant forms keep threads apart.
#include "Sockets.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netdb.h>
#include <netinet/in.h>
#include <unistd.h>
#include <vector>

#include "WinsockErrors.h"

namespace velmora {

bool GetProtoByNumber(int number, std::string& name) {
    protoent entry{}, *found = nullptr;
    std::vector<char> buffer(1024);
    while (getprotobynumber_r(number, &entry, buffer.data(), buffer.size(), &found) == ERANGE)
        buffer.resize(buffer.size() * 2);
    if (!found) {
        WSASetLastError(WSANO_DATA);
        return false;
    }
    name = found->p_name;
    return true;
}

bool GetServByName(const std::string& name, const std::string& protocol, uint16_t& port) {
    servent entry{}, *found = nullptr;
    std::vector<char> buffer(1024);
    while (getservbyname_r(name.c_str(), protocol.c_str(), &entry, buffer.data(), buffer.size(),
                           &found) == ERANGE)
        buffer.resize(buffer.size() * 2);
    if (!found) {
        WSASetLastError(WSANO_DATA);
        return false;
    }
    port = static_cast<uint16_t>(found->s_port);  // already in network byte order
    return true;
}

bool GetHostByName(const std::string& name, uint32_t& address) {
    addrinfo hints{}, *list = nullptr;
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    int rc = getaddrinfo(name.c_str(), nullptr, &hints, &list);
    if (rc != 0 || !list) {
        WSASetLastError(rc != 0 ? WinsockErrorFromResolver(rc) : WSAHOST_NOT_FOUND);
        return false;
    }
    address = reinterpret_cast<sockaddr_in*>(list->ai_addr)->sin_addr.s_addr;
    freeaddrinfo(list);
    return true;
}

bool InetAddr(const std::string& text, uint32_t& address) {
    in_addr a{};
    if (text.empty() || inet_aton(text.c_str(), &a) == 0) return false;
    address = a.s_addr;
    return true;
}

bool GetHostName(std::string& name) {
    char buffer[257] = {};
    if (gethostname(buffer, sizeof buffer - 1) != 0) {
        WSASetLastError(WinsockErrorFromErrno(errno));
        return false;
    }
    name = buffer;
    return true;
}

}  // namespace velmora

// Protocol, service, address and local-name look-ups for the socket layer, from the system's
// databases (/etc/protocols, /etc/services); the re-entrant forms keep threads apart. Host names
// are looked up within a budget (HostLookup.h).
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

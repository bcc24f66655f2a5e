// The store address is the site administrator's text, but it carries a password: a malformed one
// is refused with a reason that names the part at fault and never echoes the login.
#include "RedisAddress.h"

#include <charconv>

namespace velmora {

namespace {

bool ToNumber(const std::string& text, long min, long max, long& out) {
    if (text.empty() || text.size() > 9) return false;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size() && out >= min && out <= max;
}

bool Refuse(std::string& why, const char* reason) {
    why = reason;
    return false;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A login written with %XX for the characters a URL reserves ("@", ":", "/").
bool PercentDecode(const std::string& text, std::string& out) {
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return false;
        int hi = HexValue(text[i + 1]), lo = HexValue(text[i + 2]);
        if (hi < 0 || lo < 0) return false;
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    return true;
}

// "[USER]:PASSWORD@" in front of rest, taken off it.
bool TakeLogin(std::string& rest, TRedisAddress& address, std::string& why) {
    // The login ends at the last "@" before the path: a password's own "@" needs no escaping.
    size_t at = rest.rfind('@', rest.find('/'));
    if (at == std::string::npos) return true;
    std::string login = rest.substr(0, at);
    rest.erase(0, at + 1);
    size_t colon = login.find(':');
    if (colon == std::string::npos) return Refuse(why, "the login before \"@\" must be USER:PASSWORD or :PASSWORD");
    if (!PercentDecode(login.substr(0, colon), address.User) || !PercentDecode(login.substr(colon + 1), address.Password))
        return Refuse(why, "the login holds a \"%\" that is not followed by two hex digits");
    return true;
}

bool ParseTcp(std::string rest, TRedisAddress& address, std::string& why) {
    if (!TakeLogin(rest, address, why)) return false;
    size_t slash = rest.find('/');
    std::string hostPort = rest.substr(0, slash);
    if (slash != std::string::npos && !ToNumber(rest.substr(slash + 1), 0, 65535, address.Db))
        return Refuse(why, "the database after \"/\" must be a number from 0 to 65535");
    size_t portColon = hostPort.rfind(':');
    if (!hostPort.empty() && hostPort[0] == '[') {
        size_t close = hostPort.find(']');
        if (close == std::string::npos) return Refuse(why, "an IPv6 address in brackets lacks its \"]\"");
        address.Host = hostPort.substr(1, close - 1);
        portColon = close + 1 < hostPort.size() ? close + 1 : std::string::npos;
        if (portColon != std::string::npos && hostPort[portColon] != ':')
            return Refuse(why, "only \":PORT\" may follow an IPv6 address");
    } else {
        address.Host = hostPort.substr(0, portColon);
    }
    long port = address.Port;
    if (portColon != std::string::npos && !ToNumber(hostPort.substr(portColon + 1), 1, 65535, port))
        return Refuse(why, "the port must be a number from 1 to 65535");
    address.Port = static_cast<int>(port);
    if (address.Host.empty() || address.Host.find_first_of(" \t/?#@") != std::string::npos)
        return Refuse(why, "no host name");
    return true;
}

bool ParseUnix(std::string rest, TRedisAddress& address, std::string& why) {
    if (!TakeLogin(rest, address, why)) return false;
    size_t query = rest.find('?');
    address.UnixPath = rest.substr(0, query);
    if (address.UnixPath.empty() || address.UnixPath[0] != '/')
        return Refuse(why, "the socket's path must be absolute (redis+unix:///PATH)");
    if (query == std::string::npos) return true;
    std::string q = rest.substr(query + 1);
    if (q.compare(0, 3, "db=") != 0 || !ToNumber(q.substr(3), 0, 65535, address.Db))
        return Refuse(why, "only \"?db=N\" (N from 0 to 65535) may follow the socket's path");
    return true;
}

}  // namespace

std::string TRedisAddress::Describe() const {
    std::string where = UnixPath.empty() ? (Host.find(':') != std::string::npos ? "[" + Host + "]" : Host) + ":" +
                                               std::to_string(Port)
                                         : "unix:" + UnixPath;
    return where + "/" + std::to_string(Db);
}

bool ParseRedisAddress(const std::string& url, TRedisAddress& address, std::string& why) {
    address = TRedisAddress();
    static const std::string tcp = "redis://", unix = "redis+unix://";
    if (url.compare(0, tcp.size(), tcp) == 0) return ParseTcp(url.substr(tcp.size()), address, why);
    if (url.compare(0, unix.size(), unix) == 0) return ParseUnix(url.substr(unix.size()), address, why);
    why = "write file, redis://[:PASSWORD@]HOST:PORT[/DB] or redis+unix:///PATH[?db=N]";
    return false;
}

}  // namespace velmora

// Where a Redis store is and how to log in: the `store` value of the site's options
// (redis://[[USER]:PASSWORD@]HOST[:PORT][/DB] or redis+unix://[[USER]:PASSWORD@]/PATH[?db=N]).
#pragma once

#include <string>

namespace velmora {

struct TRedisAddress {
    std::string Host;      // a TCP server: name or address (without brackets)
    int Port = 6379;
    std::string UnixPath;  // or a Unix socket: its absolute path
    long Db = 0;
    std::string User;      // empty: the default user
    std::string Password;  // empty: no login

    // "HOST:PORT/DB" or "unix:PATH/DB" for log lines: never the login.
    std::string Describe() const;
};

// Reads url into address; false with the reason in why (which never repeats the password) when it
// is not one of the two forms above.
bool ParseRedisAddress(const std::string& url, TRedisAddress& address, std::string& why);

}  // namespace velmora

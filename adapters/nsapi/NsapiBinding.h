// The binding table of the NSAPI engine: the web server's functions, found by name in the
// server's own library at start and again whenever a request finds the table incomplete.
#pragma once

#include <array>
#include <string_view>

#include "NsapiTypes.h"

namespace velmora::nsapi {

// Every name the engine binds, in binding order. "_pblock_fr" falls back to "pblock_fr".
inline constexpr std::array<std::string_view, 86> ServerFunctionNames = {
    "system_version", "MAGNUS_VERSION", "system_version_set", "magnus_atrestart", "system_free",
    "sem_init", "sem_terminate", "sem_grab", "sem_tgrab", "sem_release", "crit_init", "crit_enter",
    "crit_exit", "crit_terminate", "net_socket", "net_getsockopt", "net_setsockopt", "net_listen",
    "net_create_listener", "net_select", "net_connect", "net_ioctl", "net_getpeername", "net_close",
    "net_bind", "net_accept", "net_read", "net_write", "net_isalive", "net_ip2host", "netbuf_open",
    "netbuf_next", "netbuf_close", "netbuf_grap", "netbuf_buf2sd", "param_create", "param_free",
    "pblock_create", "pblock_free", "pblock_findval", "pblock_nvinsert", "pblock_nninsert",
    "pblock_pinsert", "pblock_str2pblock", "pblock_pblock2str", "pblock_copy", "pblock_dup",
    "_pblock_fr", "pblock_pb2env", "request_create", "request_free", "request_restart_internal",
    "request_header", "request_stat_path", "request_handle", "request_translate_uri",
    "http_find_request", "protocol_parse_request", "http_parse_request", "protocol_scan_headers",
    "protocol_start_response", "http_start_response", "http_hdrs2env", "protocol_status",
    "http_status", "protocol_set_finfo", "http_set_finfo", "protocol_finish_request",
    "http_finish_request", "protocol_handle_session", "http_handle_session", "protocol_uri2url",
    "protocol_uri2url_dynamic", "http_uri2url", "http_uri2url_dynamic",
    "protocol_set_keepalive_timeout", "http_set_keepalive_timeout", "http_dump82", "func_init",
    "func_find", "func_exec", "func_insert", "NSstr2String", "ereport_init", "ereport_terminate",
    "ereport_getfd"};

// Position of a name in the table; a name not in it fails to compile where used as a constant.
consteval size_t FunctionIndex(std::string_view name) {
    for (size_t i = 0; i < ServerFunctionNames.size(); ++i)
        if (ServerFunctionNames[i] == name) return i;
    throw "not a bound server function";
}

// Loads the server's library and binds every name; a name it does not export stays unbound.
// Does nothing unless this program runs as a library. Never raises; safe on any thread.
void BindServerLibrary() noexcept;

// The bound address of the name at index, or null.
void* BoundFunction(size_t index) noexcept;

// The bound function of that name, typed; null when unbound.
template <class F>
F Server(size_t index) noexcept {
    return reinterpret_cast<F>(BoundFunction(index));
}

// The first of the functions a request needs that is unbound, or "" when all are bound.
std::string_view MissingRequestFunction() noexcept;

}  // namespace velmora::nsapi

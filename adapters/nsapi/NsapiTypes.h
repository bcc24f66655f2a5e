// The NSAPI server's structures and calling conventions, as its published interface (servers of
// the 4.x generation and later) lays them out: what the NSAPI engine and its service entry share.
#pragma once

namespace velmora::nsapi {

// The server keeps its parameter blocks to itself; the engine only passes them to its functions.
struct pblock;
struct pb_param {
    char* name;
    char* value;
};

// SYS_NETFD is a pointer from the 4.x servers on, so the numbers below follow an 8-byte descriptor.
using SYS_NETFD = void*;

struct netbuf {
    SYS_NETFD sd;
    int pos;
    int cursize;
    int maxsize;
    int rdtimeout;
    unsigned char* inbuf;
    char* errmsg;
};

// Only the leading fields are public and used; the server's own structures go on beyond them.
struct Session {
    pblock* client;
    SYS_NETFD csd;
    netbuf* inbuf;
};

struct Request {
    pblock* vars;
    pblock* reqpb;
    int loadhdrs;
    pblock* headers;
    int senthdrs;
    pblock* srvhdrs;
};

// What a service function answers the server.
constexpr int REQ_PROCEED = 0;
constexpr int REQ_ABORTED = -1;
constexpr int REQ_NOACTION = -2;

using CRITICAL = void*;

// The server functions the engine calls.
using crit_init_t = CRITICAL (*)();
using crit_call_t = void (*)(CRITICAL);
using net_write_t = int (*)(SYS_NETFD sd, char* buf, int sz);
using netbuf_next_t = int (*)(netbuf* buf, int advance);
using pblock_fr_t = pb_param* (*)(const char* name, pblock* pb, int remove);
using pblock_findval_t = char* (*)(const char* name, pblock* pb);
using param_free_t = int (*)(pb_param* pp);
using pblock_nvinsert_t = pb_param* (*)(const char* name, const char* value, pblock* pb);
using request_header_t = int (*)(char* name, char** value, Session* sn, Request* rq);
using http_status_t = int (*)(Session* sn, Request* rq, int n, char* r);
using http_start_response_t = int (*)(Session* sn, Request* rq);

// A service function of the server's configuration.
using service_t = int (*)(pblock* pb, Session* sn, Request* rq);

}  // namespace velmora::nsapi

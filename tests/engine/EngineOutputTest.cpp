// Tests of the response framing every engine shares: when the automatic header starts, the
// status-line rule, no-cache lines, and the buffered response with its computed content-length.
#include <gtest/gtest.h>

#include <ctime>

#include "HAdaptor.h"
#include "HttpDate.h"
#include "TestEngine.h"

namespace velmora {
namespace {

using test::TTestEngine;

const std::string kHeader = "HTTP/1.1 200 OK\r\ncontent-type:text/html\r\n\r\n";

// Runs one request whose handler is body and returns what reached the server.
std::string RunRequest(TTestEngine& engine, std::function<void(TTestEngine&)> body) {
    engine.ResetCapture();
    engine.OnExecRequest = [&engine, body](TObject*) { body(engine); };
    engine.HandleRequest();
    return engine.Output();
}

TEST(EngineOutput, AutomaticHeaderStartsOnlyBeforeMarkupOrABlankLine) {
    TTestEngine e;
    // Raw text first: the header follows it when the request ends.
    EXPECT_EQ(RunRequest(e, [](TTestEngine& x) { x.Write("plain"); }), "plain" + kHeader);
    // Blanks, then markup: the header comes first.
    EXPECT_EQ(RunRequest(e, [](TTestEngine& x) { x.Write(" \t\r\n <html>"); }), kHeader + " \t\r\n <html>");
    // Nothing written at all: just the header.
    EXPECT_EQ(RunRequest(e, [](TTestEngine&) {}), kHeader);
    // Own header lines, then EndHeaders: the automatic block lands before the application's
    // own blank line.
    EXPECT_EQ(RunRequest(e,
                  [](TTestEngine& x) {
                      x.Write("X-Own: 1\r\n");
                      x.EndHeaders();
                      x.Write("body");
                  }),
              "X-Own: 1\r\n" + kHeader + "\r\nbody");
    // The adaptor routines reach the same engine.
    EXPECT_EQ(RunRequest(e, [](TTestEngine&) { AdaptWriteLn("<p>"); }), kHeader + "<p>\r\n");
    // Header off: exactly what the application wrote.
    e.AutoHttpHeader = false;
    EXPECT_EQ(RunRequest(e, [](TTestEngine& x) { x.Write("<p>"); }), "<p>");
}

// The HTTP date of now minus 1000 days, computed from the C library alone.
std::string ExpiredDate(time_t now) {
    time_t then = now - 1000L * 86400;
    std::tm tm{};
    gmtime_r(&then, &tm);
    char buf[64];
    strftime(buf, sizeof buf, "%a, %d %b %Y %H:%M:%S GMT", &tm);
    return buf;
}

TEST(EngineOutput, NoCacheLinesFollowTheContentTypeInOrder) {
    TTestEngine e;
    e.NoCache = true;
    time_t before = time(nullptr);
    std::string out = RunRequest(e, [](TTestEngine& x) { x.Write("<p>"); });
    time_t after = time(nullptr);
    std::string head = "HTTP/1.1 200 OK\r\ncontent-type:text/html\r\nPragma:no-cache\r\n"
                       "Cache-Control:no-cache\r\n";
    // time() reads the kernel's coarse clock, which can trail the fine clock the engine reads by
    // a tick across a second's edge: allow one second either side.
    bool matched = false;
    for (time_t t = before - 1; t <= after + 1; ++t) {
        std::string d = ExpiredDate(t);
        matched |= out == head + "Expires:" + d + "\r\nDocument Expires:" + d + "\r\n\r\n<p>";
    }
    EXPECT_TRUE(matched) << out;
    // Binary output and the default header at the end carry no no-cache lines.
    EXPECT_EQ(RunRequest(e, [](TTestEngine& x) { x.WriteBuffer("ab", 2); }), kHeader + "ab");
    EXPECT_EQ(RunRequest(e, [](TTestEngine&) {}), kHeader);
}

TEST(EngineOutput, StatusLineRule) {
    TTestEngine e;
    // A redirect as the first header: no status line, and none later either.
    for (const char* name : {"Location", "location", "LOC", "ation"}) {
        std::string out = RunRequest(e, [name](TTestEngine& x) {
            x.WriteHeader(name, "http://h/");
            x.WriteHeader("X-Later", "1");
        });
        EXPECT_EQ(out, std::string(name) + ":http://h/\r\nX-Later:1\r\ncontent-type:text/html\r\n\r\n")
            << name;
    }
    // Any other first header, even an empty name, gets the status line once.
    EXPECT_EQ(RunRequest(e,
                  [](TTestEngine& x) {
                      x.WriteHeader("Set-Cookie", "a=b");
                      x.WriteHeader("Location", "/x");
                  }),
              "HTTP/1.1 200 OK\r\nSet-Cookie:a=b\r\nLocation:/x\r\ncontent-type:text/html\r\n\r\n");
    EXPECT_EQ(RunRequest(e, [](TTestEngine& x) { x.WriteHeader("", "v"); }),
              "HTTP/1.1 200 OK\r\n:v\r\ncontent-type:text/html\r\n\r\n");
    // Servers that write their own status line, in any case.
    for (const char* server : {"Apache/2.4.57", "APACHE", "Netscape-Enterprise/6.0", "my nEtScApE"}) {
        e.Variables["SERVER_SOFTWARE"] = server;
        EXPECT_EQ(RunRequest(e, [](TTestEngine& x) { x.Write("<p>"); }),
                  "content-type:text/html\r\n\r\n<p>")
            << server;
    }
    e.Variables["SERVER_SOFTWARE"] = "lighttpd/1.4.69";
    EXPECT_EQ(RunRequest(e, [](TTestEngine& x) { x.Write("<p>"); }), kHeader + "<p>");
}

TEST(EngineOutput, BinaryOutputNamesItsContentKind) {
    TTestEngine e;
    EXPECT_EQ(RunRequest(e,
                  [](TTestEngine& x) {
                      AdaptSetContentKind(2);
                      x.WriteBuffer("GIF89a", 6);
                  }),
              "HTTP/1.1 200 OK\r\ncontent-type:image/gif\r\n\r\nGIF89a");
    EXPECT_EQ(RunRequest(e,
                  [](TTestEngine&) {
                      AdaptSetContentKind(1);
                      AdaptWriteBuffer("\xff\xd8", 2);
                  }),
              "HTTP/1.1 200 OK\r\ncontent-type:image/jpeg\r\n\r\n\xff\xd8");
    // Each request starts with no content kind.
    EXPECT_EQ(RunRequest(e, [](TTestEngine& x) { x.WriteBuffer("x", 1); }), kHeader + "x");
}

TEST(EngineOutput, BufferedResponseGetsAContentLength) {
    TTestEngine e;
    e.BufferedOutput = true;
    EXPECT_EQ(RunRequest(e, [](TTestEngine& x) { x.Write("<html>12"); }),
              "HTTP/1.1 200 OK\r\ncontent-type:text/html\r\ncontent-length:8\r\n\r\n<html>12");
    // The length counts every body byte, zero bytes of binary output included.
    const char gif[] = {'G', 'I', 'F', 0, 1, 0, '\r', '\n', '\r', '\n', 0};
    EXPECT_EQ(RunRequest(e,
                  [&gif](TTestEngine& x) {
                      AdaptSetContentKind(2);
                      x.WriteBuffer(gif, sizeof gif);
                  }),
              "HTTP/1.1 200 OK\r\ncontent-type:image/gif\r\ncontent-length:11\r\n\r\n" +
                  std::string(gif, sizeof gif));
    // Raw text before the header stays in front; the length still counts only the body.
    EXPECT_EQ(RunRequest(e,
                  [](TTestEngine& x) {
                      x.Write("raw\r\n");
                      x.WriteLn("<p>");
                  }),
              "raw\r\nHTTP/1.1 200 OK\r\ncontent-type:text/html\r\ncontent-length:5\r\n\r\n<p>\r\n");
    // Without a header block the buffer goes out unchanged, without a length.
    e.AutoHttpHeader = false;
    EXPECT_EQ(RunRequest(e, [](TTestEngine& x) { x.Write("abc\r\ndef"); }), "abc\r\ndef");
    // Nothing reaches the server before the end of the request.
    e.AutoHttpHeader = true;
    std::string seenInside = "unset";
    RunRequest(e, [&seenInside](TTestEngine& x) {
        x.Write("<p>");
        seenInside = x.Output();
    });
    EXPECT_EQ(seenInside, "");
}

}  // namespace
}  // namespace velmora

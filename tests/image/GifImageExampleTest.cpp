// The image example run as a web server runs it: hostile query values end in the error page and
// never in a crash or a huge allocation; good ones give images that Pillow and Chromium (through
// lighttpd) read at the size asked for.
#include <gtest/gtest.h>

#include <fstream>

#include "ChildProcess.h"
#include "GifDecoders.h"
#include "WebServer.h"

using namespace velmora::test;

namespace {

const std::string kProgram = VELMORA_BINARY_DIR "/examples/gifimage/gifimage";
const std::string kGifHeader = "HTTP/1.1 200 OK\r\ncontent-type:image/gif\r\n\r\n";
const std::string kHtmlHeader = "HTTP/1.1 200 OK\r\ncontent-type:text/html\r\n\r\n";

std::string Get(const std::string& query) {
    TChildRun run;
    run.Args = {kProgram};
    run.Env = {"SERVER_SOFTWARE=TestServer/1.0", "GATEWAY_INTERFACE=CGI/1.1", "REQUEST_METHOD=GET",
               "QUERY_STRING=" + query, "SCRIPT_NAME=/cgi-bin/gifimage", "PATH=/usr/bin:/bin"};
    TChildResult r = RunChild(run);
    EXPECT_FALSE(r.TimedOut);
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    return r.Out;
}

TEST(GifImageExample, HostileQueriesGetTheErrorPage) {
    const char* queries[] = {
        "width=0", "width=-5", "width=4097", "width=99999999999999999999999", "width=12abc", "width=",
        "width=1e3", "width=%2B5", "width=5&width=6", "width=4096&height=4096", "width=2000&height=2000&frames=2",
        "colors=1", "colors=257", "frames=33", "interlaced=2", "transparent=yes",
        "count=", "count=12a", "count=-1", "count=123456789012345678901", "count=5&digits=21",
    };
    for (const char* q : queries) {
        const std::string out = Get(q);
        EXPECT_EQ(out.rfind(kHtmlHeader + "<html>", 0), 0u) << q << "\n" << out;
        EXPECT_NE(out.find("<h1>Bad image request</h1>"), std::string::npos) << q;
    }
}

TEST(GifImageExample, PatternAndCounterDecode) {
    std::string out = Get("width=33&height=17&colors=256&interlaced=1&transparent=1&frames=3");
    ASSERT_EQ(out.rfind(kGifHeader, 0), 0u) << out.substr(0, 200);
    TPilDecode pil = DecodeWithPil(out.substr(kGifHeader.size()));
    ASSERT_TRUE(pil.Ok) << pil.Report;
    EXPECT_EQ(pil.Width, 33);
    EXPECT_EQ(pil.Height, 17);
    EXPECT_EQ(pil.FramesRgba.size(), 3u);
    EXPECT_EQ(pil.Loop, 0);
    // At the cap exactly: still an image.
    out = Get("width=2000&height=2000");
    EXPECT_EQ(out.rfind(kGifHeader, 0), 0u) << out.substr(0, 200);

    out = Get("count=7&digits=3");
    ASSERT_EQ(out.rfind(kGifHeader, 0), 0u) << out.substr(0, 200);
    pil = DecodeWithPil(out.substr(kGifHeader.size()));
    ASSERT_TRUE(pil.Ok) << pil.Report;
    EXPECT_EQ(pil.Width, 3 * 16 + 4);
    EXPECT_EQ(pil.Height, 28);
}

TEST(GifImageExample, ChromiumShowsTheImagesAtTheirSize) {
    std::string why;
    std::unique_ptr<TWebServer> server = TWebServer::Start(TServerKind::Lighttpd, kProgram, why);
    ASSERT_NE(server, nullptr) << why;
    std::ofstream(server->Folder() + "/www/images.html")
        << "<html><body>\n"
           "<img id=a src=\"/cgi-bin/gifimage?width=123&amp;height=45&amp;colors=256&amp;interlaced=1\">\n"
           "<img id=b src=\"/cgi-bin/gifimage?width=7&amp;height=300&amp;colors=2&amp;frames=4&amp;transparent=1\">\n"
           "<img id=c src=\"/cgi-bin/gifimage?count=2026&amp;digits=6\">\n"
           "<img id=d src=\"/cgi-bin/gifimage?width=0\">\n"
           "<pre id=out></pre>\n<script>\n"
           "window.addEventListener('load', () => {\n"
           "  document.getElementById('out').textContent = 'sizes ' +\n"
           "    [...document.images].map(i => i.id + '=' + i.naturalWidth + 'x' + i.naturalHeight).join(' ');\n"
           "});\n</script></body></html>\n";
    TChildRun browser;
    browser.Args = {"/usr/bin/chromium", "--headless", "--no-sandbox", "--disable-gpu",
                    "--disable-background-networking", "--disable-component-update", "--disable-sync",
                    "--no-first-run", "--user-data-dir=" + server->Folder() + "/profile",
                    "--virtual-time-budget=5000", "--dump-dom", server->BaseUrl() + "/images.html"};
    browser.Env = InheritedEnvironment();
    browser.TimeoutMs = 90000;  // a page that fails to load keeps it waiting
    TChildResult r = RunChild(browser);
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    // The error page is no image: the browser shows it as broken, 0 by 0.
    EXPECT_NE(r.Out.find("sizes a=123x45 b=7x300 c=100x28 d=0x0"), std::string::npos)
        << r.Out << ReadWholeFile(server->OutputLog());
}

}  // namespace

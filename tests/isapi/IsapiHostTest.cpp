// ISAPI libraries under our own host: requests on several threads each answered with their own data,
// the filter path, lpszLogData and the redirect through the server; velmora's posts run side by side.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <future>
#include <thread>

#include "IsapiHost.h"
#include "SettingsFile.h"
#include "SiteSettings.h"
#include "SmtpSink.h"
#include "TempDir.h"

using namespace velmora;
using namespace velmora::test;

namespace {

// A copy of a library in a folder of its own: every test gets a fresh instance with its own state.
std::string CopyLibrary(const TempDir& dir, const std::string& from, const std::string& name) {
    std::filesystem::copy_file(from, dir / name);
    return dir / name;
}

HostRequest Post(const std::string& body, const std::string& query = "") {
    HostRequest r;
    r.Body = body;
    r.Query = query;
    r.Variables = {{"SERVER_SOFTWARE", "TestHost/1.0"}, {"SCRIPT_NAME", "/scripts/lib.isa"}};
    return r;
}

}  // namespace

TEST(IsapiProbe, TwentyRequestsOnEightThreadsEachGetTheirOwnData) {
    TempDir dir;
    IsapiHost host(CopyLibrary(dir, PROBE_LIBRARY, "probe.isa"));
    HSE_VERSION_INFO info{};
    ASSERT_TRUE(host.ExtensionVersion(info));
    EXPECT_EQ(info.dwExtensionVersion, 0x20000u);
    EXPECT_STREQ(info.lpszExtensionDesc, "QUORVEN 4.0.1");

    std::atomic<int> next{0}, right{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&] {
            for (int i; (i = next++) < 20;) {
                // Some bodies are preloaded whole, some in part, one read entirely through ReadClient.
                std::string n = std::to_string(i);
                HostRequest r = Post("a=" + n + "&pad=" + std::string(static_cast<size_t>(i) * 300, 'x'), "b=" + n);
                r.Preloaded = static_cast<size_t>(i % 3) * 700;
                HostAnswer a = host.Extension(r);
                std::string want = "<p>a=" + n + ";pad=" + std::string(static_cast<size_t>(i) * 300, 'x') + ";b=" + n + "</p>";
                // The whole header block comes in the first WriteClient call.
                if (a.Status == HSE_STATUS_SUCCESS && a.Written.find(want) != std::string::npos &&
                    a.FirstWrite.rfind("HTTP/1.1 200 OK\r\ncontent-type:text/html\r\n\r\n", 0) == 0)
                    ++right;
                else
                    ADD_FAILURE() << "request " << i << " got: " << a.Written.substr(0, 300);
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(right, 20);
}

TEST(IsapiProbe, FailuresAndRedirects) {
    TempDir dir;
    IsapiHost host(CopyLibrary(dir, PROBE_LIBRARY, "probe.isa"));
    // A handler's failure of any kind is caught inside the request and logged; the server sees a
    // finished request and no log text of ours.
    HostAnswer failed = host.Extension(Post("do=fail&msg=" + std::string(100, 'm')));
    EXPECT_EQ(failed.Status, HSE_STATUS_SUCCESS);
    EXPECT_EQ(failed.LogData, "");

    // A redirect goes through the server whole, however long, and writes no header text.
    std::string target = "http://example.org/" + std::string(2000, 'p');
    HostAnswer moved = host.Extension(Post("do=redirect&url=" + target));
    EXPECT_EQ(moved.Status, HSE_STATUS_SUCCESS);
    EXPECT_EQ(moved.Redirect, target);
    EXPECT_EQ(moved.Written, "");
    // A target that would end the server's header early is refused.
    HostAnswer injected = host.Extension(Post("do=redirect&url=http://a/%0D%0ASet-Cookie:%20x=1"));
    EXPECT_EQ(injected.Redirect, "");
    EXPECT_EQ(injected.Written.find("Set-Cookie"), std::string::npos);
}

TEST(IsapiProbe, FilterSeesQueryPostedBodyAndCookie) {
    TempDir dir;
    IsapiHost host(CopyLibrary(dir, PROBE_LIBRARY, "probe.isa"));
    HTTP_FILTER_VERSION version{};
    version.dwServerFilterVersion = 0x60000;
    ASSERT_TRUE(host.FilterVersion(version));
    EXPECT_STREQ(version.lpszFilterDesc, "probe filter");
    EXPECT_EQ(version.dwFlags, SF_NOTIFY_READ_RAW_DATA | SF_NOTIFY_PREPROC_HEADERS | SF_NOTIFY_SEND_RAW_DATA);

    std::string written;
    const std::string post = "POST /f.isa?b=2 HTTP/1.0\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                             "Cookie: s=1\r\nContent-Length: 3\r\n\r\na=1";
    EXPECT_EQ(host.Filter(SF_NOTIFY_READ_RAW_DATA, post, {}, written), SF_STATUS_REQ_NEXT_NOTIFICATION);
    EXPECT_EQ(written, "form[a=1;b=2]");
    // Before the server knows the cookie header, the one in the raw data stands in.
    host.Filter(SF_NOTIFY_PREPROC_HEADERS, "", {}, written);
    EXPECT_EQ(written, "cookie[s=1]");
    host.Filter(SF_NOTIFY_SEND_RAW_DATA, "HTTP/1.1 200 OK\r\n", {}, written);
    EXPECT_EQ(written, "");

    // A request other than a post gives only its query; the next request sees no earlier cookie.
    host.Filter(SF_NOTIFY_READ_RAW_DATA, "GET /x?q=1 HTTP/1.0\r\nCookie: t=2\r\n\r\n", {}, written);
    EXPECT_EQ(written, "form[q=1]");
    host.Filter(SF_NOTIFY_READ_RAW_DATA, "GET /x?q=1\r\n\r\n", {}, written);
    host.Filter(SF_NOTIFY_PREPROC_HEADERS, "", {}, written);
    EXPECT_EQ(written, "cookie[]");
}

// One post whose relay never answers must not hold back the others: they run on their own threads.
TEST(IsapiVelmora, TwentyPostsCompleteWhileOneWaitsForASilentRelay) {
    TempDir dir;
    SmtpSink sink;
    std::string library = CopyLibrary(dir, VELMORA_LIBRARY, "velmora.isa");
    // The silent relay: accepts and says nothing.
    int silent = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(silent, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    listen(silent, 4);
    socklen_t len = sizeof addr;
    getsockname(silent, reinterpret_cast<sockaddr*>(&addr), &len);

    // The settings name the silent relay for the first post and the real one after it.
    TMailSettings s = test::SiteMailSettings(ntohs(addr.sin_port));
    WriteSettingsFile(dir / "VELMORA.INI", s);

    IsapiHost host(library);
    HSE_VERSION_INFO info{};
    ASSERT_TRUE(host.ExtensionVersion(info));
    auto stuck = std::async(std::launch::async, [&] { return host.Extension(Post("Post=stuck")); });
    pollfd waiting{silent, POLLIN, 0};
    ASSERT_EQ(poll(&waiting, 1, 20000), 1) << "the first post never reached the silent relay";
    int held = accept(silent, nullptr, nullptr);
    ASSERT_GE(held, 0);
    s = *ReadSettingsFile(dir / "VELMORA.INI");
    s.Set(TMailField::mailport, std::to_string(sink.Port()));
    WriteSettingsFile(dir / "VELMORA.INI", s);

    std::atomic<int> thanked{0};
    std::vector<std::thread> posts;
    for (int i = 0; i < 20; ++i)
        posts.emplace_back([&, i] {
            if (host.Extension(Post("Post=" + std::to_string(i))).Written.find("Thank you.") != std::string::npos) ++thanked;
        });
    for (auto& t : posts) t.join();
    EXPECT_EQ(thanked, 20);
    EXPECT_EQ(stuck.wait_for(std::chrono::seconds(0)), std::future_status::timeout) << "the silent relay's post ended early";

    close(held);  // the relay hangs up: the waiting post fails and answers with the error page
    ASSERT_EQ(stuck.wait_for(std::chrono::seconds(15)), std::future_status::ready);
    EXPECT_EQ(stuck.get().Status, HSE_STATUS_SUCCESS);
    close(silent);
    EXPECT_EQ(ReadSettingsFile(dir / "VELMORA.INI")->Counter(), 21);
    EXPECT_EQ(host.TerminateExtension(), 0);
}

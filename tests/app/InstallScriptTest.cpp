// tools/install-cgi.sh: a CGI folder it fills answers a request, and a second run keeps the
// site's counter and allowed list while it changes the fields it is given; the installed program
// loads OpenSSL only for a relay reached over TLS, from the module installed beside it.
#include <gtest/gtest.h>

#include "ChildProcess.h"
#include "FileBytes.h"
#include "SettingsFile.h"
#include "SmtpSink.h"
#include "TempDir.h"
#include "TestCertificates.h"
#include "WebServer.h"

using namespace velmora;
using namespace velmora::test;

namespace {

TChildResult Install(const std::vector<std::string>& args) {
    TChildRun run;
    run.Args = {"/bin/bash", VELMORA_SOURCE_DIR "/tools/install-cgi.sh", "--build", VELMORA_BINARY_DIR};
    run.Args.insert(run.Args.end(), args.begin(), args.end());
    run.Env = InheritedEnvironment();
    return RunChild(run);
}

// A post to the installed program; with traceLoads the dynamic loader tells on stderr what it maps.
TChildResult Post(const std::string& cgi, const std::string& body, const std::string& tmp, bool traceLoads = false) {
    TChildRun post;
    post.Args = {cgi + "/velmora"};
    post.Env = {"SERVER_SOFTWARE=test", "GATEWAY_INTERFACE=CGI/1.1", "REQUEST_METHOD=POST",
                "CONTENT_TYPE=application/x-www-form-urlencoded", "CONTENT_LENGTH=" + std::to_string(body.size()),
                "SCRIPT_NAME=/cgi-bin/velmora", "PATH=/usr/bin:/bin", "TMPDIR=" + tmp};
    if (traceLoads) post.Env.push_back("LD_DEBUG=files");
    post.Input = body;
    return RunChild(post);
}

TEST(InstallScript, OpenSslIsLoadedOnlyForATlsRelayFromTheModuleBesideTheProgram) {
    TempDir dir;
    TestCertificates certs{dir.Path()};
    SmtpSink relay(certs.SinkOptions());
    const std::string cgi = dir / "cgi-bin";
    TChildResult r = Install({cgi, "mailto=webmaster@example.org", "mailfrom=form@example.org",
                              "mailhost=127.0.0.1", "mailport=" + std::to_string(relay.Port())});
    ASSERT_EQ(r.ExitCode, 0) << r.Out << r.Err;
    WriteWholeFile(cgi + "/VELMORA.ALL", "webmaster@example.org\r\n");
    WriteWholeFile(cgi + "/VELMORA.CONF", "tls = required\ntls_ca_file = " + certs.CaFile() + "\n");

    // Printed once the file is open and mapped; a failed try names it too, but not so.
    const std::string module = "file=" + cgi + "/velmora-tls.so [0];  generating link map";
    struct Case {
        const char* body;
        bool mailed;
    } cases[] = {
        {"mailto=stranger%40example.net&A=1", false},  // refused before any relay is reached
        {"Name=Anna", true},
    };
    for (const Case& c : cases) {
        TChildResult a = Post(cgi, c.body, dir.Path(), true);
        EXPECT_EQ(a.ExitCode, 0) << c.body << a.Err;
        EXPECT_EQ(a.Err.find(module) != std::string::npos, c.mailed) << c.body << a.Err;
        EXPECT_EQ(a.Err.find("libssl") != std::string::npos, c.mailed) << c.body << a.Err;
    }
    EXPECT_EQ(relay.MessageCount(), 1);
    EXPECT_NE(ReadWholeFile(relay.Envelope(1)).find("\"tls\": true"), std::string::npos);
}

TEST(InstallScript, InstalledProgramAnswersAndAReinstallKeepsTheSite) {
    TempDir dir;
    const std::string cgi = dir / "cgi-bin";
    TChildResult r = Install({cgi, "mailto=webmaster@example.org", "mailhost=127.0.0.1", "mailport=9"});
    ASSERT_EQ(r.ExitCode, 0) << r.Out << r.Err;

    // A post naming a recipient outside the sample list: refused, listed, counted; no relay needed.
    TChildResult a = Post(cgi, "mailto=stranger%40example.net&A=1", dir.Path());
    EXPECT_EQ(a.ExitCode, 0) << a.Err;
    EXPECT_NE(a.Out.find("Allowed EMail-Adresses :<br>webmaster@example.org<br>"), std::string::npos) << a.Out;

    WriteWholeFile(cgi + "/VELMORA.ALL", "sales@example.org\r\n");
    r = Install({cgi, "mailsubject=Orders"});
    ASSERT_EQ(r.ExitCode, 0) << r.Out << r.Err;
    auto s = ReadSettingsFile(cgi + "/VELMORA.INI");
    ASSERT_TRUE(s);
    EXPECT_EQ(s->Counter(), 1);
    EXPECT_EQ(s->Get(TMailField::mailto), "webmaster@example.org");
    EXPECT_EQ(s->Get(TMailField::mailsubject), "Orders");
    EXPECT_EQ(ReadWholeFile(cgi + "/VELMORA.ALL"), "sales@example.org\r\n");
}

}  // namespace

// Tests of the profile-file engine inside the test process: the shared request table as a
// profile-file server writes it, the profile reader's line rules and limits, external fields,
// the output file, and bad requests that must end with a log line instead of a crash or a hang.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "CgiWEng.h"
#include "ProfileFormFields.h"
#include "RequestTable.h"
#include "System.h"
#include "TempDir.h"

using namespace velmora;
using namespace velmora::test;
namespace fs = std::filesystem;

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

void WriteAll(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

TCGIIniFile ProfileOf(const std::string& text) {
    TMemoryStream s;
    s.WriteString(text);
    s.SetPosition(0);
    return TCGIIniFile(s);
}

class ProfileEngine : public ::testing::Test {
protected:
    void SetUp() override {
        CgiWEngStartup();
        WinServerProcess = false;
        ::setenv("CGI_LOG_DIR", Dir.c_str(), 1);
        Owner = std::make_unique<TComponent>();
        Engine = NewEngine();
    }
    void TearDown() override {
        Owner.reset();
        RequestState().CurrentEngine = nullptr;
        CGIWinRequestState() = TCGIWinRequestState();
    }

    // Made inactive, so that the constructor serves nothing; requests come by DispatchRequest.
    TCGIWinEngine* NewEngine(bool buffered = false) {
        WinCGIStart = false;
        auto* e = new TCGIWinEngine(Owner.get(), false, NormalMode, false, buffered, false, Dir, "S", 1000, false,
                                 "text/html", true, nullptr, nullptr,
                                 [this](TObject* s) { if (OnExec) OnExec(*static_cast<TCGIWinEngine*>(s)); },
                                 nullptr);
        WinCGIStart = true;
        return e;
    }

    // The profile a profile-file server writes for a table row: short plain values under
    // [Form Literal], others in files under [Form External], repeats as NAME_1, NAME_2, ...; a
    // multipart body in the content file. A GET also gets a form section, which it must ignore.
    std::string ProfileFor(const TTableRequest& r) {
        std::string cgi = "[CGI]\r\nRequest Protocol=HTTP/1.0\r\nRequest Method=" + r.Method +
                          "\r\nQuery String=" + r.Query + "\r\nExecutable Path=/cgi-win/echo.exe\r\n";
        std::string system = "[System]\r\nGMT Offset=0\r\nOutput File=" + Out() + "\r\n";
        std::string literal = "[Form Literal]\r\n", external = "[Form External]\r\n";
        if (!r.Upload.empty()) {
            const std::string body = MultipartBody(r, "b0undary42");
            WriteAll(Dir + "/content", body);
            cgi += "Content Type=multipart/form-data; boundary=b0undary42\r\nContent Length=" +
                   std::to_string(body.size()) + "\r\n";
            system += "Content File=" + Dir + "/content\r\n";
        } else if (r.Method == "POST") {
            cgi += "Content Type=application/x-www-form-urlencoded\r\nContent Length=5000\r\n";
            std::map<std::string, int> seen;
            for (const auto& [name, value] : r.Posted) {
                const int n = seen[name]++;
                const std::string key = n ? name + "_" + std::to_string(n) : name;
                if (value.find_first_of("\r\n") == std::string::npos) {
                    literal += key + "=" + value + "\r\n";
                    continue;
                }
                const std::string file = Dir + "/ext-" + key;
                WriteAll(file, value);
                external += key + "=" + file + " " + std::to_string(value.size()) + "\r\n";
            }
        } else {
            literal += "Q=from form\r\nOTHER=1\r\n";
        }
        return cgi + system + "[Accept]\r\ntext/html=Yes\r\n" + literal + external;
    }

    std::string Profile(const std::string& text) {
        const std::string path = Dir + "/request.ini";
        WriteAll(path, text);
        return path;
    }
    std::string Out() const { return Dir + "/answer.out"; }
    std::string Log() const {
        return ReadAll(Dir + "/" + fs::path(fs::read_symlink("/proc/self/exe")).filename().string() + ".Log");
    }

    TempDir Temp;
    std::string Dir = Temp.Path();
    std::unique_ptr<TComponent> Owner;
    TCGIWinEngine* Engine = nullptr;
    std::function<void(TCGIWinEngine&)> OnExec;
};

TEST_F(ProfileEngine, AnswersEveryRowOfTheRequestTableIntoTheOutputFile) {
    for (const TTableRequest& r : RequestTable()) {
        fs::remove(Out());
        TTableAnswer answer;
        OnExec = [&](TCGIWinEngine& e) {
            answer = AskEngine(e, r);
            e.Write("<p>ok");
        };
        Engine->DispatchRequest(Profile(ProfileFor(r)));
        ExpectTableAnswer(r, answer);
        // No status line for a 200: the server writes its own. The read limit (1000 here) bounds
        // the content file only: fields the profile holds are served whatever their length.
        EXPECT_EQ(ReadAll(Out()), "content-type:text/html\r\n\r\n<p>ok") << r.Name;
        EXPECT_FALSE(RequestState().BodyOverLimit) << r.Name;
    }
    EXPECT_EQ(Log(), "");
    // The request's files are closed, the upload deleted.
    EXPECT_EQ(CGIWinRequestState().OutputFile, nullptr);
    EXPECT_EQ(CGIWinRequestState().ContentFile, nullptr);
}

TEST_F(ProfileEngine, ReadsVariablesCookieAndHeadersFromTheProfile) {
    std::string seen;
    OnExec = [&](TCGIWinEngine& e) {
        for (const char* n : {"Content_Length", "CONTENT LENGTH", "SCRIPT_NAME", "server software",
                              "OUTPUT_FILE", "Referer", "TEXT/HTML", "NOT THERE"})
            seen += e.GetVariable(n) + "|";
        seen += e.GetHttpCookie() + "|" + std::to_string(e.GetContentLength()) + "|" + e.GetScriptName();
        e.WriteHeader("X-One", "1");
        e.Write("<p>");
    };
    Engine->DispatchRequest(Profile(
        "[CGI]\r\nContent Length=12\r\nExecutable Path=/cgi-win/x.exe\r\nServer Software=Srv/1\r\n"
        "Content Length=42\r\n[System]\r\nOutput File=" + Out() + "\r\n[Extra Headers]\r\nReferer=http://a/\r\n"
        "[Accept]\r\ntext/html=Yes\r\n"));
    EXPECT_EQ(seen, "42|42|/cgi-win/x.exe|Srv/1|" + Out() + "|http://a/|Yes||" + NotAvailable + "|42|/cgi-win/x.exe");
    EXPECT_EQ(ReadAll(Out()), "X-One:1\r\ncontent-type:text/html\r\n\r\n<p>");

    // A cookie; a length that is no number reads as 0; buffered output gets its content-length.
    OnExec = [&](TCGIWinEngine& e) { e.Write("<p>" + e.GetHttpCookie() + std::to_string(e.GetContentLength())); };
    TCGIWinEngine* buffered = NewEngine(true);
    buffered->DispatchRequest(Profile("[CGI]\r\nContent Length=x1\r\n[System]\r\nOutput File=" + Out() +
                                      "\r\n[Extra Headers]\r\nCookie=S=1; T=2\r\n"));
    EXPECT_EQ(ReadAll(Out()), "content-type:text/html\r\ncontent-length:12\r\n\r\n<p>S=1; T=20");
}

TEST_F(ProfileEngine, ReadsProfileLinesByTheirRules) {
    // CR LF, a lone CR and leading blanks end and start lines; an LF alone does not.
    TCGIIniFile p = ProfileOf(
        "Before=1\r\n[ Form Literal ] ]\r\n  a=1\r\r\n\tB = two words \rC=x\ny\r\n"
        "[CGI]\r\nKey=first\r\n[FORM LITERAL]\r\nD=goes on in CGI\r\nKEY=second\r\n"
        "abcdefghijklmnopqrstuvwxyz01234=31\r\nabcdefghijklmnopqrstuvwxyz012345=32\r\n=empty\r\nnoequals\r\n");
    EXPECT_EQ(p.Sections(), (std::vector<std::string>{"FORM LITERAL", "CGI"}));
    EXPECT_EQ(p.ReadString("form literal", " a ", "-"), "1");
    EXPECT_EQ(p.ReadString("FORM LITERAL", "b", "-"), "two words");
    EXPECT_EQ(p.ReadString("FORM LITERAL", "C", "-"), "x\ny");
    EXPECT_EQ(p.ReadString("CGI", "KEY", "-"), "second");
    EXPECT_EQ(p.ReadString("CGI", "D", "-"), "goes on in CGI");
    EXPECT_EQ(p.ReadString("CGI", "ABCDEFGHIJKLMNOPQRSTUVWXYZ01234", "-"), "31");
    EXPECT_EQ(p.ReadString("CGI", "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345", "-"), "-");
    EXPECT_EQ(p.ReadString("CGI", "BEFORE", "-"), "-");
    EXPECT_EQ(p.ReadString("FORM LITERAL", "BEFORE", "-"), "-");
    TCGIIniFile lfOnly = ProfileOf("[CGI]\nA=1\nB=2\n");
    EXPECT_EQ(lfOnly.Sections().size(), 1u);  // one line: a section named "CGI]\nA=1\nB=2"
    EXPECT_EQ(lfOnly.ReadString("CGI", "A", "-"), "-");

    // Field names: repeats left out, NAME's series not broken by NAMEX, a field in two sections twice.
    TCGIIniFile f = ProfileOf(
        "[Form Literal]\r\nNAMEX=x\r\nName=1\r\nName_2=3\r\nName_1=2\r\nName_10=11\r\n"
        "7=seven\r\n[Form External]\r\nnamex=/nowhere 5\r\n[Formal]\r\nZ=1\r\n[CGI]\r\nW=1\r\n");
    EXPECT_EQ(f.ProfileFieldNames()->Items(),
              (std::vector<std::string>{"7", "NAME", "NAMEX", "NAMEX", "Z"}));
    EXPECT_EQ(ProfileFormField(f, "name", "-"), "1\r\n2\r\n3");
    EXPECT_EQ(ProfileFormField(f, "namex", "-"), "x");  // the literal section comes first
}

TEST_F(ProfileEngine, ProfilesBeyondTheLimitsAreSkippedOrRefusedNeverGrown) {
    const std::string longLine = "[Form Literal]\r\nA=" + std::string(4094, 'x') + "\r\nB=" +
                                 std::string(4095, 'y') + "\r\nC=3\r\n";
    TCGIIniFile lines = ProfileOf(longLine);
    EXPECT_EQ(lines.ReadString("FORM LITERAL", "A", "-").size(), 4094u);
    EXPECT_EQ(lines.ReadString("FORM LITERAL", "B", "-"), "-");
    EXPECT_EQ(lines.ReadString("FORM LITERAL", "C", "-"), "3");
    EXPECT_EQ(lines.IgnoredLines(), 1);

    std::string many;
    for (int i = 1; i <= 60; ++i) many += "[S" + std::to_string(i) + "]\r\nK=" + std::to_string(i) + "\r\n";
    TCGIIniFile sections = ProfileOf(many + "[S3]\r\nL=after\r\n");
    EXPECT_EQ(sections.Sections().size(), 51u);
    EXPECT_EQ(sections.ReadString("S51", "K", "-"), "51");  // not overwritten by S52's key
    EXPECT_EQ(sections.ReadString("S3", "L", "-"), "-");
    EXPECT_EQ(sections.IgnoredSections(), 9);

    // Endless input is refused at the size limit.
    struct Endless : TStream {
        long Read(void* b, long n) override { std::memset(b, 'a', static_cast<size_t>(n)); return n; }
        long Write(const void*, long) override { return 0; }
        int64_t Seek(int64_t, TSeekOrigin) override { return 0; }
        void SetSize(int64_t) override {}
    } endless;
    EXPECT_THROW(TCGIIniFile{endless}, EReadError);

    // A folder or a FIFO is no profile (a FIFO would block the open).
    ASSERT_EQ(::mkfifo((Dir + "/fifo").c_str(), 0600), 0);
    EXPECT_THROW(TCGIIniFile{Dir + "/fifo"}, EFOpenError);
    EXPECT_THROW(TCGIIniFile{Dir}, EFOpenError);

    // Through the engine: log lines, and the rest of the profile still serves.
    OnExec = [](TCGIWinEngine& e) { e.Write("<p>" + e.GetFormField("C", "-")); };
    Engine->DispatchRequest(Profile("[CGI]\r\nRequest Method=POST\r\n[System]\r\nOutput File=" + Out() + "\r\n" +
                                    longLine + many));
    EXPECT_EQ(ReadAll(Out()), "content-type:text/html\r\n\r\n<p>3");
    EXPECT_NE(Log().find(": 1 line(s) over 4096 characters ignored\r\n"), std::string::npos) << Log();
    EXPECT_NE(Log().find(": 12 section(s) beyond the first 51 ignored\r\n"), std::string::npos) << Log();
}

TEST_F(ProfileEngine, ExternalFieldsReadTheirFilesWithinBounds) {
    WriteAll(Dir + "/e1", "first line\r\nsecond");
    WriteAll(Dir + "/e2", std::string("cut\0here", 8));
    WriteAll(Dir + "/big", std::string(MaxExternalFieldSize + 1, 'b'));
    ASSERT_EQ(::mkfifo((Dir + "/fifo").c_str(), 0600), 0);
    TCGIIniFile p = ProfileOf("[Form External]\r\nE1=" + Dir + "/e1 18\r\nSHORT=" + Dir + "/e1 5\r\nLONG=" + Dir +
                              "/e1 9000\r\nE2=" + Dir + "/e2 8\r\nBIG=" + Dir + "/big 2000000\r\nMISSING=" + Dir +
                              "/none 3\r\nNAN=" + Dir + "/e1 x\r\nNEG=" + Dir + "/e1 -1\r\nNOLEN=" + Dir +
                              "/e1\r\nFIFO=" + Dir + "/fifo 5\r\nBIG_1=" + Dir + "/e1 5\r\n");
    EXPECT_EQ(ReadProfileFormField(p, "E1"), "first line\r\nsecond");
    EXPECT_EQ(ReadProfileFormField(p, "SHORT"), "first");
    EXPECT_EQ(ReadProfileFormField(p, "LONG"), "first line\r\nsecond");
    EXPECT_EQ(ReadProfileFormField(p, "E2"), "cut");
    for (const char* absent : {"BIG", "MISSING", "NAN", "NEG", "NOLEN", "FIFO", "NONE"})
        EXPECT_EQ(ReadProfileFormField(p, absent), NotAvailable) << absent;
    // An absent first value hides its repeats.
    EXPECT_EQ(ProfileFormField(p, "BIG", "-"), "-");
    EXPECT_NE(Log().find("Form field BIG ignored: its external file holds more than 1048576 bytes"),
              std::string::npos) << Log();
}

TEST_F(ProfileEngine, OutputFileRulesAndBadRequestsEndWithALogLine) {
    bool raised = false;
    OnExec = [&](TCGIWinEngine& e) {
        raised = true;
        e.Write("<p>new");
    };
    // An existing longer file keeps its tail after the new answer.
    WriteAll(Out(), std::string(60, '#'));
    const std::string profile = "[CGI]\r\nRequest Method=POST\r\n[System]\r\nOutput File=" + Out() + "\r\n";
    Engine->DispatchRequest(Profile(profile));
    EXPECT_EQ(ReadAll(Out()), "content-type:text/html\r\n\r\n<p>new" + std::string(28, '#'));
    EXPECT_EQ(AddSystemDrive("out/a.htm"), "/out/a.htm");
    EXPECT_EQ(AddSystemDrive("/tmp/a.htm"), "/tmp/a.htm");

    // No output file: no events and nothing written anywhere; the log stays empty.
    raised = false;
    Engine->DispatchRequest(Profile("[CGI]\r\nRequest Method=POST\r\n[System]\r\nOutput File=\r\n"));
    EXPECT_FALSE(raised);
    EXPECT_EQ(Log(), "");

    // Missing profile, an output file that is a folder, a missing content file: one log line each.
    Engine->DispatchRequest(Dir + "/missing.ini");
    Engine->DispatchRequest(Profile("[System]\r\nOutput File=" + Dir + "\r\n"));
    Engine->DispatchRequest(Profile(profile + "Content File=" + Dir + "/gone\r\n[CGI]\r\n"
                                    "Content Type=multipart/form-data; boundary=b\r\n"));
    EXPECT_FALSE(raised);
    const std::string log = Log();
    EXPECT_NE(log.find("Unhandled exception : Cannot open file \"" + Dir + "/missing.ini\""), std::string::npos) << log;
    EXPECT_NE(log.find("Unhandled exception : Cannot open file \"" + Dir + "\". Not a regular file"), std::string::npos);
    EXPECT_NE(log.find("Unhandled exception : Cannot open file \"" + Dir + "/gone\""), std::string::npos);

    // A content file shorter than announced gives the fields that arrived.
    const TTableRequest& multipart = RequestTable()[2];
    std::string answer;
    OnExec = [&](TCGIWinEngine& e) { answer = e.GetFormField("text", "-"); };
    const std::string text = ProfileFor(multipart);
    WriteAll(Dir + "/content", MultipartBody(multipart, "b0undary42").substr(0, 90));
    Engine->DispatchRequest(Profile(text));
    EXPECT_EQ(answer, "1+1=2, ok");
}

// Started as a profile-file server starts it, the engine serves the first parameter's profile from
// its constructor and, with AutoTerminate, ends the process; without a parameter it is the
// resident server, which serves nothing from its constructor and returns to wait for requests.
TEST_F(ProfileEngine, ConstructorServesTheParameterAndEndsTheProcess) {
    const std::string path = Profile("[System]\r\nOutput File=" + Out() + "\r\n");
    auto serve = [&](bool withParameter) {
        std::string self = "test", param = path;
        char* argv[] = {self.data(), param.data(), nullptr};
        SetCommandLine(withParameter ? 2 : 1, argv);
        CGIWinRequestState().IniFileName = path;
        WinServerProcess = !withParameter;
        new TCGIWinEngine(Owner.get(), false, NormalMode, true, false, false, "", "S", 10, true, "text/html",
                          true, nullptr, nullptr, [](TObject* s) { static_cast<TCGIWinEngine*>(s)->Write("<p>x"); },
                          nullptr);
        std::_Exit(3);
    };
    EXPECT_EXIT(serve(true), ::testing::ExitedWithCode(0), "^$");
    EXPECT_EQ(ReadAll(Out()), "content-type:text/html\r\n\r\n<p>x");
    EXPECT_EXIT(serve(false), ::testing::ExitedWithCode(3), "^$");
}

}  // namespace

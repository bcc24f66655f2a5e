// Tests of THttpFileFilter: the default name and path rules, the two failure messages, and the
// reading in 255-byte pieces with entries and directives across every piece boundary.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "FilterFixture.h"
#include "EnvPaths.h"
#include "Files.h"
#include "SysUtils.h"
#include "TempDir.h"

namespace velmora::test {
namespace {

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

TEST(TemplatePath, DefaultNameAndResolution) {
    struct TNameCase {
        const char* Program;
        const char* Want;
    };
    const TNameCase names[] = {
        {"/cgi/velmora.bin", "/cgi/velmora.htm"},
        {"/cgi/velmora", "/cgi/velmora.htm"},
        {"/cgi/velmora.tar.gz", "/cgi/velmora.htm"},
        {"/srv/www.example/cgi/velmora", "/srv/www.example/cgi/velmora.htm"},  // dotted folder
        {"/srv/www.example/cgi/velmora.cgi", "/srv/www.example/cgi/velmora.htm"},
        {"/cgi/velmora.", "/cgi/velmora.htm"},
    };
    for (const TNameCase& c : names) EXPECT_EQ(DefaultTemplateName(c.Program), c.Want) << c.Program;

    EXPECT_EQ(ResolveTemplatePath("/web/thanks.htm", "/cgi/velmora"), "/web/thanks.htm");
    EXPECT_EQ(ResolveTemplatePath("thanks.htm", "/cgi/velmora"), "/cgi/thanks.htm");
    EXPECT_EQ(ResolveTemplatePath("pages/thanks.htm", "/cgi/velmora"), "/cgi/pages/thanks.htm");
}

TEST_F(FilterTest, ExecuteFindsTheTemplate) {
    TempDir dir;
    Request.Variables = {{"REMOTE_ADDR", "10.0.0.1"}};
    WriteFile(dir / "thanks.htm", "<p>%REMOTE_ADDR%</p>");
    Filter.SetFileName(dir / "thanks.htm");
    Filter.Execute();
    EXPECT_EQ(Request.Output, "<p>10.0.0.1</p>");

    // Execute starts outside any IF, whatever an earlier template left open.
    FilterConditions().Reset();
    Filter.FilterText("%IF NEVER%");
    Request.Output.clear();
    Filter.Execute();
    EXPECT_EQ(Request.Output, "<p>10.0.0.1</p>");

    // A relative name is taken beside the program file, not in the current folder.
    std::string program = ModuleFileName();
    std::string name = "filter-test-" + std::to_string(::getpid()) + ".htm";
    std::string beside = ExtractFilePath(program) + name;
    WriteFile(beside, "beside %REMOTE_ADDR%");
    Filter.SetFileName(name);
    Request.Output.clear();
    Filter.Execute();
    std::remove(beside.c_str());
    EXPECT_EQ(Request.Output, "beside 10.0.0.1");
}

TEST_F(FilterTest, ExecuteDefaultName) {
    // Without a name the program's own name with "htm" is used and kept.
    std::string want = DefaultTemplateName(ModuleFileName());
    if (want.rfind(VELMORA_BINARY_DIR, 0) != 0) GTEST_SKIP() << "default template would lie outside the build folder";
    WriteFile(want, "default page");
    Filter.SetFileName("");
    Filter.Execute();
    std::remove(want.c_str());
    EXPECT_EQ(Request.Output, "default page");
    EXPECT_EQ(Filter.FileName(), want);
}

TEST_F(FilterTest, ExecuteFailures) {
    TempDir dir;
    Filter.SetFileName(dir / "missing.htm");
    try {
        Filter.Execute();
        ADD_FAILURE() << "no exception for a missing file";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "RueckgabeHTML : Can not find file named " + (dir / "missing.htm"));
    }
    // A folder is not a template file either.
    Filter.SetFileName(dir.Path());
    EXPECT_THROW(Filter.Execute(), Exception);

    // A socket exists but cannot be opened as a file.
    std::string sock = dir / "socket.htm";
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    ASSERT_LT(sock.size(), sizeof addr.sun_path);
    sock.copy(addr.sun_path, sock.size());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    Filter.SetFileName(sock);
    try {
        Filter.Execute();
        ADD_FAILURE() << "no exception for an unopenable file";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "RueckgabeHTML : open error " + sock);
    }
    ::close(fd);
    EXPECT_EQ(Request.Output, "");
}

// Plain text of n bytes made of filler, ending in a blank so that a lone delimiter in the filler
// cannot pair with the entry that follows.
std::string Fill(const std::string& filler, size_t n) {
    std::string out;
    while (out.size() + 1 < n) out += filler;
    out.resize(n ? n - 1 : 0);
    return n ? out + " " : out;
}

TEST_F(FilterTest, EntriesAcrossPieceBoundaries) {
    Request.Variables = {{"REMOTE_ADDR", "10.0.0.1"}};
    Request.Fields = {{"EMAIL", "a@b.c"}};
    Filter.OnHttpLogicalEntry = Conditions("T");
    const std::string longName(120, 'N');
    Request.Fields[longName] = "long";
    struct TPieceCase {
        std::string Entry, Value;
    };
    const TPieceCase entries[] = {
        {"%REMOTE_ADDR%", "10.0.0.1"},
        {"#EMAIL#", "a@b.c"},
        {"%IF T%y%ELSE%n%ENDIF%", "y"},
        {"#IF F#y#ELSEIF T#e#ENDIF#", "e"},
        {"%" + longName + "%", "long"},
        {"#" + longName + "#", "long"},
    };
    // Fillers with lone delimiters of either kind before the entries.
    const std::string fillers[] = {"x", "50% off, ", "color: #333; "};
    // The delimiter an earlier template left behind must not matter.
    const std::string primers[] = {"", "%X%", "#X#"};
    const size_t piece = THttpFileFilter::PieceSize;
    for (const TPieceCase& c : entries) {
        for (const std::string& filler : fillers) {
            // The entry starts at the same offset in each of four pieces; over all offsets it
            // is cut by a piece boundary at every one of its bytes.
            for (size_t offset = 0; offset < piece; ++offset) {
                std::string text = Fill(filler, offset), want = text;
                for (int k = 0; k < 4; ++k) {
                    std::string gap = Fill(filler, piece - c.Entry.size());
                    text += c.Entry + gap;
                    want += c.Value + gap;
                }
                ASSERT_EQ(Page(text), want) << c.Entry << " / " << filler;
                for (const std::string& primer : primers) {
                    TFixedClockFilter filter;  // a fresh CurrentDelimiter, then the primer's
                    filter.OnHttpLogicalEntry = Filter.OnHttpLogicalEntry;
                    filter.FilterText(primer);
                    ASSERT_EQ(StreamedPage(text, &filter), want)
                        << c.Entry << " / " << filler << " / offset " << offset << " / primer " << primer;
                }
            }
        }
    }
}

TEST_F(FilterTest, LongStretchesInPieces) {
    // Stretches longer than the search windows read through pieces give the same page as the
    // whole text: nothing is dropped, and a delimiter far from its partner stays text.
    Request.Variables = {{"V", "v"}};
    std::string none(70000, 'a');
    std::string farApart = "%" + std::string(THttpTextFilterComponent::EntryWindow, 'b') + "%V%";
    std::string justInside = "#" + std::string(THttpTextFilterComponent::EntryWindow - 1, 'c') + "#";
    Request.Fields[justInside.substr(1, justInside.size() - 2)] = "inside";
    struct TLongCase {
        std::string Text, Want;
    };
    const TLongCase cases[] = {
        {none + "%V%" + none, none + "v" + none},
        {farApart, farApart.substr(0, farApart.size() - 3) + "v"},
        {justInside + "|", "inside|"},
        {"%V%" + std::string(40000, 'd'), "v" + std::string(40000, 'd')},
        {std::string(33000, '%'), std::string()},
    };
    for (const TLongCase& c : cases) {
        EXPECT_EQ(Page(c.Text), c.Want) << c.Text.size();
        for (size_t piecesPerRead : {1, 3, 256})
            EXPECT_EQ(StreamedPage(c.Text, nullptr, piecesPerRead), c.Want) << c.Text.size() << " / " << piecesPerRead;
    }
}

}  // namespace
}  // namespace velmora::test

// Each web-server set-up doc/install.md documents (and the one the README's front page shows),
// configured as written there and run for real: the form is served, while velmora's side files,
// log, request files and kept mail are never handed out, however the address is spelled.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "SettingsFile.h"
#include "SiteSettings.h"
#include "TempDir.h"
#include "VelmoraSite.h"
#ifdef WITH_APACHE_ISAPI
#include "ModIsapi.h"
#endif

using namespace velmora;
using namespace velmora::test;
namespace fs = std::filesystem;

namespace {

const std::string kMarker = "SIDE-FILE-MARKER";

// What lies in the program's folder on a site in use, each holding the marker (the log, request
// files and uploads also beside the program: where they go when their folder cannot be made).
// The settings file is a real one (the post must be served); its free field carries the marker.
const char* const kSideFiles[] = {
    "VELMORA.INI", "VELMORA.ALL", "VELMORA.TOP", "VELMORA.BOT", "VELMORA.CONF", "VELMORA.RATE",
    "Log/velmora.Log", "velmora.Log", "Temp/velmora_C_1234_REQ", "Temp/velmora_C_1234_OUT", "velmora_C_1234_REQ",
    "Outbox/1700000000-ab12.1.1700000060.mail", "Outbox/undeliverable/1700000000-cd34.6.0.mail", "4711upload.tmp"};

enum class TRun { Cgi, Isapi, FastCgiSocket, FastCgiPort, SpawnedByServer };

struct TSetup {
    const char* Name;
    TServerKind Server;
    TRun Run;
    const char* ProgramUrl;
    const char* Folder;       // the program's folder in the documents (stands for the test's own)
    std::string Config;       // the lines of doc/install.md
    bool FrontPage = false;   // also the one the README's "Put it on a site" shows
};

// The configurations of doc/install.md, line for line; the program folder, socket, port and module
// stand for the test's own.
const TSetup kSetups[] = {
    {"LighttpdCgi", TServerKind::Lighttpd, TRun::Cgi, "/forms/velmora", "/srv/velmora/example",
     "server.modules += ( \"mod_alias\", \"mod_cgi\", \"mod_access\" )\n"
     "alias.url += ( \"/forms/velmora\" => \"/srv/velmora/example/velmora\" )\n"
     "$HTTP[\"url\"] == \"/forms/velmora\" { cgi.assign = ( \"\" => \"\" ) }\n"
     "$HTTP[\"url\"] =~ \"^/forms/velmora.\" { url.access-deny = ( \"\" ) }\n",
     true},
    {"ApacheCgi", TServerKind::Apache, TRun::Cgi, "/forms/velmora", "/srv/velmora/example",
     "ScriptAlias /forms/velmora /srv/velmora/example/velmora\n"
     "<Directory /srv/velmora/example>\n"
     "    Require all denied\n"
     "    <Files \"velmora\">\n"
     "        Require all granted\n"
     "    </Files>\n"
     "</Directory>\n"},
#ifdef WITH_APACHE_ISAPI
    {"ApacheIsapi", TServerKind::Apache, TRun::Isapi, "/forms/velmora.isa", "/srv/velmora",
     "LoadModule isapi_module /path/to/mod_isapi.so\n"
     "Alias /forms/velmora.isa /srv/velmora/velmora.isa\n"
     "<Directory /srv/velmora>\n"
     "    Options +ExecCGI\n"
     "    AddHandler isapi-handler .isa\n"
     "    Require all denied\n"
     "    <Files \"velmora.isa\">\n"
     "        Require all granted\n"
     "    </Files>\n"
     "</Directory>\n"},
#endif
    {"NginxFastCgi", TServerKind::Nginx, TRun::FastCgiSocket, "/forms/velmora", "/srv/velmora/example",
     "location = /forms/velmora {\n"
     "    include /etc/nginx/fastcgi_params;\n"
     "    fastcgi_pass unix:/run/velmora/example.sock;\n"
     "}\n"},
    {"LighttpdFastCgi", TServerKind::Lighttpd, TRun::SpawnedByServer, "/forms/velmora", "/srv/velmora/example",
     "server.modules += ( \"mod_fastcgi\", \"mod_access\" )\n"
     "$HTTP[\"url\"] =~ \"^/forms/velmora.\" { url.access-deny = ( \"\" ) }\n"
     "fastcgi.server = ( \"/forms/velmora\" => (( \"socket\" => \"/run/lighttpd/velmora.sock\",\n"
     "    \"bin-path\" => \"/usr/lib/velmora/velmora --site=/srv/velmora/example --threads=8\",\n"
     "    \"max-procs\" => 1, \"check-local\" => \"disable\" )) )\n"},
    {"ApacheFastCgi", TServerKind::Apache, TRun::FastCgiPort, "/forms/velmora", "/srv/velmora/example",
     "ProxyPass \"/forms/velmora\" \"fcgi://127.0.0.1:9010/\"\n"},
};

void PrintTo(const TSetup& setup, std::ostream* out) { *out << setup.Name; }

void Replace(std::string& text, const std::string& from, const std::string& to) {
    for (size_t p = 0; (p = text.find(from, p)) != std::string::npos; p += to.size()) text.replace(p, from.size(), to);
}

// The addresses that would name a side file under the folder the program's address lies in,
// as a hostile client spells them: plain, with "." and ".." parts, doubled or escaped slashes,
// escaped letters, and at the server's root.
std::vector<std::string> Probes(const std::string& programUrl, const std::string& name) {
    const std::string base = programUrl.substr(0, programUrl.rfind('/') + 1);
    const std::string program = programUrl.substr(base.size());
    char hex[4];
    std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(name[0]));
    const std::string escaped = hex + name.substr(1);
    return {base + name, base + "./" + name, base + "/" + name, base + program + "/../" + name,
            base + program + "%2F..%2F" + name, base + escaped, "/" + name};
}

class SideFilesOverHttp : public ::testing::TestWithParam<TSetup> {
protected:
    // The program folder, outside the web server's folders, reachable by its worker user.
    void LayOut(const std::string& program, const std::string& as) {
        ::chmod(home.Path().c_str(), 0755);
        folder = home / "velmora";
        for (const char* sub : {"Log", "Temp", "Outbox/undeliverable"}) fs::create_directories(folder + "/" + sub);
        fs::copy_file(program, folder + "/" + as);
        TMailSettings s = SiteMailSettings(sink.Port());
        s.Set(TMailField::mailat, kMarker);
        WriteSettingsFile(folder + "/VELMORA.INI", s);
        for (const char* name : kSideFiles)
            if (std::string(name) != "VELMORA.INI") WriteWholeFile(folder + "/" + name, kMarker + " " + name + "\n");
        // Written by the worker user under Apache (settings counter, log).
        for (const auto& e : fs::recursive_directory_iterator(folder)) fs::permissions(e.path(), fs::perms::all);
        fs::permissions(folder, fs::perms::all);
    }

    TempDir home;
    SmtpSink sink;
    std::string folder;
};

TEST_P(SideFilesOverHttp, FormIsServedAndNoSideFileIsHandedOut) {
    const TSetup& setup = GetParam();
    // What runs here is what the documents tell a site to write: doc/install.md every set-up, the
    // README the one on its front page.
    std::vector<std::string> documents = {"doc/install.md"};
    if (setup.FrontPage) documents.push_back("README.md");
    for (const std::string& name : documents) {
        const std::string text = ReadWholeFile(std::string(VELMORA_SOURCE_DIR) + "/" + name);
        ASSERT_FALSE(text.empty()) << name;
        for (size_t pos = 0, end; (end = setup.Config.find('\n', pos)) != std::string::npos; pos = end + 1)
            EXPECT_NE(text.find("\n    " + setup.Config.substr(pos, end - pos) + "\n"), std::string::npos)
                << "not in " << name << ": " << setup.Config.substr(pos, end - pos);
    }
    const bool isapi = setup.Run == TRun::Isapi;
    LayOut(isapi ? VELMORA_LIBRARY : VELMORA_PROGRAM, fs::path(setup.ProgramUrl).filename());
    std::string config = setup.Config;
    // The installed program serves the site folder (--site), as the FastCGI lines of doc/install.md say.
    Replace(config, "/usr/lib/velmora/velmora", VELMORA_PROGRAM);
    Replace(config, setup.Folder, folder);
    const std::string socket = home / "velmora.sock";
    const std::string port = std::to_string(FreeLoopbackPort());
    Replace(config, "/run/velmora/example.sock", socket);
    Replace(config, "/run/lighttpd/velmora.sock", socket);
    Replace(config, "127.0.0.1:9010", "127.0.0.1:" + port);
    const std::string mods = "/usr/lib/apache2/modules/";
    if (setup.Run == TRun::FastCgiPort)
        config = "LoadModule proxy_module " + mods + "mod_proxy.so\nLoadModule proxy_fcgi_module " + mods + "mod_proxy_fcgi.so\n" + config;
#ifdef WITH_APACHE_ISAPI
    if (isapi) {
        Replace(config, "/path/to/mod_isapi.so", ModIsapi());
        config = "LoadModule mime_module " + mods + "mod_mime.so\nTypesConfig /dev/null\n" + config;
    }
#endif
    // The server's usual mapping of /cgi-bin/ to its own CGI folder stays in place beside these.
    std::string why;
    std::unique_ptr<TWebServer> web = TWebServer::Start(setup.Server, VELMORA_PROGRAM, why, config);
    ASSERT_NE(web, nullptr) << why;
    std::unique_ptr<TBackground> fastcgi;
    if (setup.Run == TRun::FastCgiSocket || setup.Run == TRun::FastCgiPort) {
        const std::string address = setup.Run == TRun::FastCgiSocket ? socket : "127.0.0.1:" + port;
        fastcgi = std::make_unique<TBackground>(std::vector<std::string>{VELMORA_PROGRAM, "--site=" + folder, "--fastcgi=" + address},
                                                web->OutputLog());
        ASSERT_TRUE(WaitForListener(address)) << ReadWholeFile(web->OutputLog());
    }

    // The set-up works: the post is mailed with the top lines of the folder laid out above.
    std::string answer = Curl({"--data-binary", "Name=Ann", web->BaseUrl() + setup.ProgramUrl});
    EXPECT_NE(answer.find(ThankYou), std::string::npos) << answer << ReadWholeFile(web->ErrorLog());
    ASSERT_EQ(sink.MessageCount(), 1) << answer;
    EXPECT_NE(ReadWholeFile(sink.Message(1)).find(kMarker + " VELMORA.TOP"), std::string::npos);

    for (const char* name : kSideFiles)
        for (const std::string& url : Probes(setup.ProgramUrl, name)) {
            std::string got = Curl({"--path-as-is", web->BaseUrl() + url});
            int status = std::atoi(got.substr(got.find(' ') + 1, 3).c_str());
            EXPECT_TRUE(status == 403 || status == 404) << url << "\n" << got.substr(0, 600);
            EXPECT_EQ(got.find(kMarker), std::string::npos) << url << "\n" << got.substr(0, 600);
        }
    if (fastcgi) fastcgi->Stop();
    const std::string errors = ReadWholeFile(web->OutputLog()) + ReadWholeFile(web->ErrorLog());
    EXPECT_EQ(errors.find("Sanitizer"), std::string::npos) << errors;
}

// The README's front page holds no web-server configuration that is not run above: each of its
// code blocks is either a command (tools/..., sudo ...) or one of the set-ups, whole.
TEST(FrontPage, EveryConfigurationOnItIsOneThatRuns) {
    const std::string readme = ReadWholeFile(VELMORA_SOURCE_DIR "/README.md");
    ASSERT_FALSE(readme.empty());
    std::vector<std::string> blocks;
    std::string block;
    for (size_t pos = 0, end; pos < readme.size(); pos = end + 1) {
        end = readme.find('\n', pos);
        if (end == std::string::npos) end = readme.size();
        const std::string line = readme.substr(pos, end - pos);
        if (line.rfind("    ", 0) == 0) {
            block += line.substr(4) + "\n";
        } else if (!block.empty()) {
            blocks.push_back(block);
            block.clear();
        }
    }
    if (!block.empty()) blocks.push_back(block);
    int configurations = 0;
    for (const std::string& b : blocks) {
        if (b.rfind("tools/", 0) == 0 || b.rfind("sudo ", 0) == 0) continue;
        ++configurations;
        bool runs = false;
        for (const TSetup& setup : kSetups) runs = runs || (setup.FrontPage && setup.Config == b);
        EXPECT_TRUE(runs) << "a configuration on the front page that no test runs:\n" << b;
    }
    EXPECT_EQ(configurations, 1);
}

INSTANTIATE_TEST_SUITE_P(DocumentedSetUps, SideFilesOverHttp, ::testing::ValuesIn(kSetups),
                         [](const ::testing::TestParamInfo<TSetup>& info) { return std::string(info.param.Name); });

}  // namespace

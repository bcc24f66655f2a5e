// Tests of the friendly-variable getters: the second name asked when the first is empty, the
// secure-port and query-string rules, content lengths and the URL's last fallback.
#include <gtest/gtest.h>

#include "TestEngine.h"

namespace velmora {
namespace {

using test::TTestEngine;
using TGetter = std::string (THttpEngine::*)();

struct TFallbackCase {
    const char* Getter;
    TGetter Get;
    const char* First;
    const char* Second;
};

TEST(EngineVariables, GettersFallBackToTheirSecondName) {
    const TFallbackCase cases[] = {
        {"ServerProtocol", &THttpEngine::GetServerProtocol, "SERVER_PROTOCOL", "REQUEST_PROTOCOL"},
        {"PathTranslated", &THttpEngine::GetPathTranslated, "PATH_TRANSLATED", "DOCUMENT_ROOT"},
        {"ScriptName", &THttpEngine::GetScriptName, "SCRIPT_NAME", "EXECUTABLE_PATH"},
        {"RemoteAddr", &THttpEngine::GetRemoteAddr, "REMOTE_ADDR", "REMOTE_ADDRESS"},
        {"AuthType", &THttpEngine::GetAuthType, "AUTH_TYPE", "AUTHETICATION_METHOD"},
        {"UserAgent", &THttpEngine::GetUserAgent, "HTTP_USER_AGENT", "USER_AGENT"},
        {"Referer", &THttpEngine::GetReferer, "HTTP_REFERER", "REFERER"},
        {"ExecutablePath", &THttpEngine::GetExecutablePath, "EXECUTABLE_PATH", "SCRIPT_NAME"},
        {"Url", &THttpEngine::GetUrl, "URL", "HTTP_URL"},
        {"ServerName", &THttpEngine::GetServerName, "SERVER_NAME", nullptr},
        {"ServerPort", &THttpEngine::GetServerPort, "SERVER_PORT", nullptr},
        {"RemoteUser", &THttpEngine::GetRemoteUser, "REMOTE_USER", nullptr},
        {"ContentType", &THttpEngine::GetContentType, "CONTENT_TYPE", nullptr},
        {"HttpCookie", &THttpEngine::GetHttpCookie, "HTTP_COOKIE", nullptr},
    };
    for (const TFallbackCase& c : cases) {
        TTestEngine e;
        EXPECT_EQ((e.*c.Get)(), "") << c.Getter;
        if (c.Second) {
            e.Variables[c.Second] = "second";
            EXPECT_EQ((e.*c.Get)(), "second") << c.Getter;
        }
        e.Variables[c.First] = "first";
        EXPECT_EQ((e.*c.Get)(), "first") << c.Getter;
    }
}

TEST(EngineVariables, SpecialValues) {
    TTestEngine e;
    EXPECT_FALSE(e.IsSecurePort());
    for (const char* v : {"0", "01", " 1", "true", ""}) {
        e.Variables["SERVER_PORT_SECURE"] = v;
        EXPECT_FALSE(e.IsSecurePort()) << v;
    }
    e.Variables["SERVER_PORT_SECURE"] = "1";
    EXPECT_TRUE(e.IsSecurePort());

    e.Variables["QUERY_STRING"] = "#1NOT_AVAILABLE#1";
    EXPECT_EQ(e.GetQueryString(), "");
    e.Variables["QUERY_STRING"] = "a=1&b=2";
    EXPECT_EQ(e.GetQueryString(), "a=1&b=2");

    EXPECT_EQ(e.GetContentLength(), 0);
    for (const char* v : {"", "abc", "12abc", "99999999999"}) {
        e.Variables["CONTENT_LENGTH"] = v;
        EXPECT_EQ(e.GetContentLength(), 0) << v;
    }
    e.Variables["CONTENT_LENGTH"] = "8";
    EXPECT_EQ(e.GetContentLength(), 8);

    // No URL under either name: the executable path, which itself falls back to the script name.
    e.Variables["SCRIPT_NAME"] = "/cgi-bin/velmora";
    EXPECT_EQ(e.GetUrl(), "/cgi-bin/velmora");
    e.Variables["EXECUTABLE_PATH"] = "/exe";
    EXPECT_EQ(e.GetUrl(), "/exe");
}

}  // namespace
}  // namespace velmora

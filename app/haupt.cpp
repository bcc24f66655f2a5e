// The main window's form description (components and their stored settings) and the first-request
// handler that finds the side files beside the program file and loads the three text ones.
#include "haupt.h"

#include "AllowedList.h"
#include "BackgroundSender.h"
#include "EnvPaths.h"
#include "AnswerPages.h"
#include "FastCgiEng.h"
#include "Files.h"
#include "LogText.h"

namespace velmora {

namespace {

// Any local relay; every request replaces it with the settings file's mailhost.
constexpr const char* DefaultRelayHost = "localhost";

void SetLines(TStringList& list, std::initializer_list<const char*> lines) {
    list.Clear();
    for (const char* line : lines) list.Add(line);
}

}  // namespace

THauptmenue::THauptmenue(TComponent* owner) : TForm(owner) {
    SetName("Hauptmenue");
    SetCaption("Brevanto - VELMORA");
    SetWindowState(wsMinimized);

    HTTP = new TGeneralHttpEngine(this);
    HTTP->SetName("HTTP");
    HTTP->SetAutoContentType("text/html");
    // The default, which CGI starts also bound the bodies they hand to a resident server by.
    HTTP->SetAutoReadLimit(kDefaultAutoReadLimit);
    HTTP->SetBufferedOutput(false);
    HTTP->CGIMode = NormalMode;
    HTTP->CgiAutoTerminate = true;
    HTTP->SetSessionName("Mail");
    // Upload files live in the private folder of the program's transient files, where the sweep
    // of a later request finds what a killed one left, never beside the program.
    HTTP->SetTempDir("Temp");
    HTTP->SetNoCache(false);
    HTTP->SetOnExecRequest([this](TObject* sender) { HTTPExecRequest(sender); });
    HTTP->SetOnFirstExecRequest([this](TObject* sender) { HTTPFirstExecRequest(sender); });
    // A working file or folder that cannot be made (Temp for an upload, say) ends the request here:
    // the visitor gets the error page and the log the cause, never an empty answer.
    HTTP->SetOnRequestError([](TObject*, const Exception& e) {
        WriteLog("Post not handled: " + e.Message());
        // A body that ended short gets the engine's own 400 answer after this.
        if (dynamic_cast<const EBodyEndedShort*>(&e) || RequestState().HeaderSent) return;
        WriteErrorPage("the site cannot take this post just now; nothing was sent");
    });
    // A web server unloading the library ends the sender thread first: its code goes with it.
    HTTP->SetOnLastExecRequest([](TObject*) { StopOutboxSender(); });
    // Read only when the engine is made (a FastCGI server's pool and limits); a file it cannot use
    // is logged and leaves the defaults. Other starts need none of it here, and a CGI start then
    // looks at the file once, for its request.
    InstallLogRoute();  // the program did so before its start; the libraries do it here
    if (!RunsAsLibrary() && FastCGIStart().Active) {
        auto site = LoadSiteConfig(ExtractFilePath(ModuleFileName()) + "VELMORA.CONF", WriteLog);
        HTTP->FastCgiThreads = static_cast<int>(site->Number("fastcgi_threads"));
        HTTP->FastCgiLimits.MaxConnections = static_cast<int>(site->Number("fastcgi_max_connections"));
        HTTP->FastCgiLimits.RequestSeconds = static_cast<int>(site->Number("fastcgi_request_seconds"));
        HTTP->FastCgiLimits.IdleSeconds = static_cast<int>(site->Number("fastcgi_idle_seconds"));
        HTTP->FastCgiLimits.BodyMemory = static_cast<long long>(site->Number("fastcgi_body_memory")) << 20;
    }
    InstallFormReadLimit();  // the program did so before its start; the libraries do it here

    Nachricht = new TSmtpSendMail(this);
    Nachricht->SetName("Nachricht");
    Nachricht->RemoteHost = DefaultRelayHost;
    Nachricht->RemotePort = "25";
    TStringList header;
    SetLines(header, {"From: %MAILFROM%", "To: %MAILTO%", "CC: %MAILCC%", "Subject: %SUBJECT% ",
                      "Mime-Version: 1.0", "Content-Type: text/plain; charset=iso-8859-1",
                      "Content-Transfer-Encoding: quoted-printable"});
    Nachricht->SetMailHeader(header);

    RueckgabeHTML = new THttpFileFilter(this);
    RueckgabeHTML->SetName("RueckgabeHTML");

    SetLines(Top, {"<--- Top of form ", "---------------->"});
    SetLines(Bottom, {"<--- Bottom of form ", "---------------->"});
}

// With attach_uploads, a multipart post may be as large as max_upload_bytes; every other body
// keeps the engine's limit. A multipart post carries at most max_upload_files files. Asked before
// the body is read, so the site's file decides.
void InstallFormReadLimit() {
    SetReadLimitRule([](const std::string& contentType, int autoReadLimit) {
        if (UpperCase(contentType).find("MULTIPART/FORM-DATA") == std::string::npos) return autoReadLimit;
        auto site = LoadSiteConfig(ExtractFilePath(ModuleFileName()) + "VELMORA.CONF", WriteLog);
        return site->Flag("attach_uploads") ? static_cast<int>(site->Number("max_upload_bytes")) : autoReadLimit;
    });
    SetUploadFileLimitRule([] {
        auto site = LoadSiteConfig(ExtractFilePath(ModuleFileName()) + "VELMORA.CONF", WriteLog);
        return static_cast<int>(site->Number("max_upload_files"));
    });
}

void THauptmenue::HTTPFirstExecRequest(TObject*) {
    TSideFiles f;
    f.ProgramDir = ExtractFilePath(ModuleFileName());
    f.Ini = f.ProgramDir + "VELMORA.INI";
    f.All = f.ProgramDir + "VELMORA.ALL";
    f.Top = f.ProgramDir + "VELMORA.TOP";
    f.Bot = f.ProgramDir + "VELMORA.BOT";
    f.Conf = f.ProgramDir + "VELMORA.CONF";
    FSideFiles = f;
    // A missing file keeps the list's stored lines; one that exists but cannot be read raises.
    if (FileExists(f.All)) Allowed.LoadFromFile(f.All);
    // Said once here rather than on every refusal: such an entry never allows a recipient.
    for (const std::string& line : Allowed)
        for (const std::string& entry : EntriesAllowingNothing(line))
            WriteLog("Allowed list entry \"" + ForLog(entry) + "\" in line \"" + ForLog(line) +
                     "\" allows nothing: write whole addresses, @domain or domain.tld");
    if (FileExists(f.Top)) Top.LoadFromFile(f.Top);
    if (FileExists(f.Bot)) Bottom.LoadFromFile(f.Bot);
}

}  // namespace velmora

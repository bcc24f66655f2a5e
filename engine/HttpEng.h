// THttpEngine: the request engine every server interface shares (request run, events, automatic
// header, buffering, friendly variable names, log), and the per-thread state of a running request.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "Component.h"
#include "HAdaptor.h"
#include "Forms.h"
#include "HttpCookie.h"
#include "Streams.h"
#include "StringList.h"
#include "SysUtils.h"
#include "System.h"

namespace velmora {

class TThread;

enum TCGIMode { NormalMode, ServerMode, ServerThreadMode };

using TExecRequestEvent = std::function<void(TObject* sender)>;
using TFirstExecRequestEvent = std::function<void(TObject* sender)>;
using TLastExecRequestEvent = std::function<void(TObject* sender)>;
using TRequestErrorEvent = std::function<void(TObject* sender, const Exception& errorReason)>;

// An engine's lock: opaque, so that an engine may hand out its server's own lock objects.
using TLockHandle = void*;

// Base class of the general engine component: a plain component with nothing of its own.
class TGeneralHttpComponent : public TComponent {
public:
    using TComponent::TComponent;
};

// State of the request running on the calling thread. Every thread has its own; all fields start
// zero, empty or null, so one engine object can serve requests on several threads at once.
struct TRequestState {
    class THttpEngine* CurrentEngine = nullptr;
    std::unique_ptr<TStringList> UploadFiles;   // null outside a multipart request
    bool HeaderSent = false;
    bool StatusLineSent = false;
    int RequestId = 0;
    uint8_t ContentKind = 0;                    // 0 none, 1 JPEG, 2 GIF
    // Owned here, not by the engine: requests on several threads must not share the engine's
    // (unsynchronised) list of owned components.
    std::unique_ptr<THttpCookie> SessionCookie;
    std::unique_ptr<TStringList> SessionVariables;
    std::unique_ptr<TMemoryStream> OutputBuffer;
    bool DirectOutput = false;
    std::string Status;                         // of the answer, e.g. "413 Payload Too Large"; empty: 200
    std::string ContentType;                    // of the answer; empty: the engine's AutoContentType
    std::vector<std::pair<std::string, std::string>> ExtraHeaders;  // sent with the automatic header
    long long BodyBytesCounted = 0;             // body bytes ReadCounted has handed out
    bool BodyOverLimit = false;                 // the engine left a body above its read limit unread
    bool TooManyUploads = false;                // its multipart body held more files than allowed
    bool TextPartTooLong = false;               // its multipart body held a value part over the decoder's ring
};
TRequestState& RequestState() noexcept;

// A body that ended before the length its request announced: what came is not the visitor's form,
// so no handler runs on it. HandleRequest answers 400 and reports it like any request error.
class EBodyEndedShort : public Exception {
    using Exception::Exception;
};

class THttpEngine : public TComponent {
public:
    explicit THttpEngine(TComponent* owner);
    ~THttpEngine() override;
    void Loaded() override;

    // Settings, read (never written) while requests run.
    bool AutoReadInput = true;
    int AutoReadLimit = 0;
    bool AutoHttpHeader = true;
    std::string AutoContentType = "text/html";
    std::string TempDir;
    std::string SessionName;
    TRequestErrorEvent OnRequestError;
    TExecRequestEvent OnExecRequest;
    TFirstExecRequestEvent OnFirstExecRequest;
    TLastExecRequestEvent OnLastExecRequest;
    bool BufferedOutput = false;
    TCGIMode CGIMode = NormalMode;
    bool NoCache = false;

    // The virtual operations, in slot order.
    virtual void ExecRequest() = 0;                                             // 1
    virtual void EndRequest();                                                  // 2
    virtual void ReadMultipartData(std::string& data);                          // 3
    virtual std::string GetServerName();                                        // 4
    virtual std::string GetServerSoftware();                                    // 5
    virtual std::string GetGatewayInterface();                                  // 6
    virtual std::string GetServerProtocol();                                    // 7
    virtual std::string GetServerPort();                                        // 8
    virtual bool IsSecurePort();                                                // 9
    virtual std::string GetRequestMethod();                                     // 10
    virtual std::string GetPathInfo();                                          // 11
    virtual std::string GetPathTranslated();                                    // 12
    virtual std::string GetScriptName();                                        // 13
    virtual std::string GetQueryString();                                       // 14
    virtual std::string GetRemoteHost();                                        // 15
    virtual std::string GetRemoteAddr();                                        // 16
    virtual std::string GetAuthType();                                          // 17
    virtual std::string GetRemoteUser();                                        // 18
    virtual std::string GetRemoteIdent();                                       // 19
    virtual std::string GetContentType();                                       // 20
    virtual int GetContentLength();                                             // 21
    virtual std::string GetUrl();                                               // 22
    virtual std::string GetUserAgent();                                         // 23
    virtual std::string GetHttpCookie();                                        // 24
    virtual std::string GetReferer();                                           // 25
    virtual std::string GetExecutablePath();                                    // 26
    virtual TThread* GetRequestThread();                                        // 27
    virtual void WriteStatusLine();                                             // 28
    virtual void Write(const std::string& s);                                   // 29
    virtual void WriteBuffer(const void* buffer, int count);                    // 30
    virtual int ReadClient(void* buffer, int count);                            // 31
    virtual void WriteHeader(const std::string& name, const std::string& value);  // 32
    virtual void EndHeaders();                                                  // 33
    virtual std::string GetVariable(const std::string& name) = 0;               // 34
    virtual std::string GetFormField(const std::string& name, const std::string& def) = 0;  // 35
    virtual std::unique_ptr<TStringList> GetFormFieldNames() = 0;               // 36
    virtual TLockHandle CreateLock();                                           // 37
    virtual void EnterLock(TLockHandle lock);                                   // 38
    virtual void LeaveLock(TLockHandle lock);                                   // 39
    virtual void FreeLock(TLockHandle lock);                                    // 40
    virtual bool IsActive() = 0;                                                // 41

    void MakeCurrent() noexcept;
    bool IsDirectOutput() const noexcept;
    void WriteLn(const std::string& s) { Write(s + "\r\n"); }
    // The automatic header, unless it is switched off or has gone out: what is written next is
    // page text even when it does not start with "<" (text from the request, say).
    void StartAutoHeader();
    // Runs one request from start to end on the calling thread.
    void HandleRequest();
    // The largest body of this request's content type that is read: AutoReadLimit, unless the
    // program set a rule of its own (SetReadLimitRule).
    int ReadLimit();
    // ReadClient, counting the bytes it hands out for the short-body test of ReadAnnouncedBody;
    // the multipart decoder reads through this too.
    int ReadCounted(void* buffer, int count);

protected:
    // Takes the settings and handlers an engine is constructed with, in the order the general
    // engine component passes them.
    void StoreSettings(bool bufferedOutput, bool noCache, const std::string& tempDir,
                       const std::string& sessionName, int autoReadLimit, bool autoReadInput,
                       const std::string& autoContentType, bool autoHttpHeader,
                       TRequestErrorEvent onRequestError, TLastExecRequestEvent onLastExecRequest,
                       TExecRequestEvent onExecRequest, TFirstExecRequestEvent onFirstExecRequest);

    // The request's form data by the CGI rules: the body of CONTENT_LENGTH bytes (url-encoded, or
    // multipart through ReadMultipartData; none above AutoReadLimit or without AutoReadInput),
    // else the query string. Reads the body through ReadClient.
    std::string ReadBodyOrQuery();
    // The body of the announced length, read through ReadCounted (multipart through
    // ReadMultipartData, else as text up to its first zero byte). Raises EBodyEndedShort when
    // fewer bytes arrive than announced.
    std::string ReadAnnouncedBody(int length);
    // Logs and marks (TRequestState::BodyOverLimit) a body this engine leaves unread because it is
    // larger than the read limit, so that the program can refuse the request instead of thanking.
    void NoteBodyOverLimit();

    // A "Status" header line with the answer's status, when it has one other than 200: how a
    // server that writes its own status line learns another.
    void WriteStatusHeader();

    // Raises OnFirstExecRequest (once per engine), OnExecRequest and, when wanted, OnLastExecRequest.
    // Concurrent first requests wait until OnFirstExecRequest has finished, so no request runs
    // before what the first one sets up. Sender of every event is the engine.
    void RaiseRequestEvents(bool withLast = true);

    // The server sends the headers the engine hands it, apart from the body: a buffered answer
    // then holds only the body, and its flush ends the headers before sending it.
    bool FHeadersThroughServer = false;

    // True once OnFirstExecRequest has been raised by this engine; guarded by FFirstRequestLock.
    bool FFirstRequestDone = false;
    std::mutex FFirstRequestLock;

private:
    std::string ReadUrlEncodedBody(int length);
    void CreateSessionObjects();
    void WriteAutoHeader(const std::string& contentType, bool withNoCache);
    void FlushOutputBuffer();
    void ReportRequestError(const Exception& e);
    void AnswerBodyEndedShort();
};

// The calling thread's current engine, or null.
THttpEngine* CurrentEngine() noexcept;

// Sets the status of the calling thread's answer ("413 Payload Too Large"); it counts only when set
// before the first header line goes out. Each request starts with "200 OK".
void SetRequestStatus(const std::string& status);

// The content type of the calling thread's answer (instead of the engine's AutoContentType) and
// further header lines that go out with it; like the status, they count only when set before the
// first header line goes out. Each request starts without them.
void SetRequestContentType(const std::string& type);
void AddRequestHeader(const std::string& name, const std::string& value);

// A program's own read limit per content type (a larger one for uploads, say), given the engine's
// AutoReadLimit. Set once at start, before requests run; shared by every engine of the process.
// Set before the framework's start-up, it also bounds the body a CGI start hands over to a
// resident server (which has no engine of its own yet, so it asks with the default limit).
using TReadLimitRule = std::function<int(const std::string& contentType, int autoReadLimit)>;
void SetReadLimitRule(TReadLimitRule rule);
// The largest body of the content type that is read under the rule, or autoReadLimit without one.
int ReadLimitFor(const std::string& contentType, int autoReadLimit);
// A program's bound on the upload files of one multipart body, asked when such a body is decoded
// (0: none, also without a rule). A body with more file parts makes no more files than that,
// leaves no form data and sets the request's TooManyUploads. Set once at start, like the above.
void SetUploadFileLimitRule(std::function<int()> rule);
constexpr int kDefaultAutoReadLimit = 10000;

// Appends one line to the program's log file; never raises.
void WriteLog(const std::string& msg) noexcept;
// The same for several lines at once: one look at the route and one append to the file for all.
void WriteLogLines(const std::vector<std::string>& msgs) noexcept;

// Where the calling thread's log lines are also reported while it serves a request (a FastCGI
// server's error stream, say); empty for none. WriteLog passes each line on without its end.
using TLogEcho = std::function<void(const std::string& line)>;
void SetRequestLogEcho(TLogEcho echo);

// Where log lines go: the log file, the system log (facility mail, through the Unix socket named),
// or both. Without a rule every line goes to the file alone.
struct TLogRoute {
    bool File = true;
    bool Syslog = false;
    std::string SyslogSocket;  // empty: the system's (/dev/log)
};
// Asked for each line, so an edited setting counts from the next line on. The rule may itself write
// log lines (a settings file it cannot read); those are held and written after it, the same way.
// Set once at start, before requests run.
using TLogRouteRule = std::function<TLogRoute()>;
void SetLogRouteRule(TLogRouteRule rule);

// One line in the system log's form (RFC 3164, as the C library's syslog writes it to /dev/log):
// priority mail.info, the local time, the program's name with the process id, then the request id
// and the text as the log file has them. text is cut to a length every syslog daemon takes.
std::string SyslogLine(TDateTime now, const std::string& programName, int processId, int requestId,
                       const std::string& text);

// Ends the process after freeing the application's forms (nothing when running as a library).
void TerminateProgram();

}  // namespace velmora

// TCGIStdEngine in the resident modes: the client writes its request file, queues it and relays
// the answer (starting a server first when its settings ask for a resident mode and none runs);
// the server polls the queue and serves each request file with the ordinary request machinery.
#include <algorithm>

#include "CgiResident.h"
#include "CgiSEng.h"
#include "EnvPaths.h"
#include "Files.h"
#include "HttpEng.h"
#include "System.h"

namespace velmora {

namespace {

constexpr unsigned kPollIntervalMs = 50;
constexpr int kLaunchAttempts = 6;
constexpr unsigned kLaunchPauseMs = 500;
constexpr int kKeyDraws = 64;
constexpr long kCopyBlock = 65536;

// Four upper-case hex digits of 0 .. 65534.
std::string NewRequestKey() {
    static const char digits[] = "0123456789ABCDEF";
    const int n = Random(65535);
    std::string key(4, '0');
    for (int i = 0; i < 4; ++i) key[static_cast<size_t>(i)] = digits[(n >> (12 - 4 * i)) & 0xF];
    return key;
}

// A request file under a key no waiting client uses: neither its request file nor its answer
// file may exist (an answer is still being relayed until its client deletes it). Drawn again on
// a collision; the exclusive create settles a race with a client in another folder view.
std::unique_ptr<THandleStream> CreateRequestFile(std::string& key, std::string& name) {
    PrepareExchangeFolder();
    for (int draw = 0; draw < kKeyDraws; ++draw) {
        key = NewRequestKey();
        name = RequestFileNameFor(key);
        if (FileExists(AnswerFileNameFor(name))) continue;
        bool existed = false;
        std::unique_ptr<THandleStream> file = CreatePrivateFile(name, true, &existed);
        if (file) return file;
    }
    throw EFCreateError("No free request file name in " + ExchangeNames().Folder);
}

// Environment text goes into a block of CR LF lines: a CR or LF inside a value (a hostile header)
// would end its line early and plant variables of its own, or end the block.
std::string EnvironmentLine(std::string line) {
    std::replace_if(line.begin(), line.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    return line + "\r\n";
}

void CopyBody(TStream& in, TStream& out, long long& taken) {
    int length = 0;
    if (!TryStrToInt(GetEnv("CONTENT_LENGTH"), length) || length <= 0) return;
    // A body the server will refuse unread stays with the web server: copied, a hostile post of
    // any length would fill the exchange folder before the server said no.
    if (length > ReadLimitFor(GetEnv("CONTENT_TYPE"), kDefaultAutoReadLimit)) return;
    std::string block;
    for (long left = length; left > 0;) {
        block.resize(static_cast<size_t>(std::min(left, kCopyBlock)));
        const long got = in.Read(block.data(), static_cast<long>(block.size()));
        if (got <= 0) return;
        taken += got;
        out.WriteBuffer(block.data(), got);
        left -= got;
    }
}

// The request file this thread wrote holds all that was read of the body.
thread_local bool tRequestFileWhole = false;

// Writes this process's request file: the environment, the marker line, the empty line, the body.
// Written before the queue is locked: a slow visitor's body would hold every other process's
// queue work for the time of its copy. A write error is logged and swallowed (the server serves
// what is there); false, with no name kept, when no file could be made.
bool WriteRequestFile() {
    TCGIRequestState& st = CGIRequestState();
    tRequestFileWhole = false;
    std::unique_ptr<THandleStream> file;
    try {
        file = CreateRequestFile(st.RequestKey, st.RequestFileName);
    } catch (const Exception& e) {
        WriteLog(e.Message());
        st.RequestFileName.clear();
        return false;
    }
    try {
        std::string head;
        for (const std::string& line : GetEnvironmentBlock()) head += EnvironmentLine(line);
        head += "MORVAN_CGI_DEBUG=true\r\n\r\n";
        file->WriteString(head);
        if (st.InputStream) CopyBody(*st.InputStream, *file, st.BodyBytesRead);
        tRequestFileWhole = true;
    } catch (const Exception& e) {
        WriteLog(e.Message());
    }
    return true;
}

// A request file that will not be queued: deleted, and forgotten so that a later try writes anew.
void DropRequestFile() {
    TCGIRequestState& st = CGIRequestState();
    if (!st.RequestFileName.empty()) DeleteFile(st.RequestFileName);
    st.RequestFileName.clear();
}

// The block of NAME=VALUE lines at the head of a request file. Within a run of CR and LF bytes the
// second ends a line and the fourth ends the block; in is left at the first byte of the body.
void ReadEnvironmentBlock(TStream& in, TStringList& lines) {
    std::string line;
    int run = 0;
    int64_t offset = 0;
    char block[4096];
    for (;;) {
        const long got = in.Read(block, sizeof block);
        if (got <= 0) break;
        for (long i = 0; i < got; ++i) {
            const char c = block[i];
            if (c != '\r' && c != '\n') {
                run = 0;
                line += c;
                continue;
            }
            if (++run == 2) {
                if (!line.empty()) lines.Add(line);
                line.clear();
            } else if (run == 4) {
                in.Seek(offset + i + 1, soBeginning);
                return;
            }
        }
        offset += got;
    }
    if (!line.empty()) lines.Add(line);
}

void WriteNotQueuedAnswer(TStream* out) {
    if (!out) return;
    try {
        out->WriteString(NotQueuedAnswer());
    } catch (const Exception&) {
        // The web server has gone; there is no one left to tell.
    }
}

}  // namespace

bool StandardRequestFitsQueue() { return ExchangeTakes(RequestFileNameFor("0000")); }

bool EnqueueStandardRequest() {
    if (GetEnv("SERVER_SOFTWARE").empty() || Contains(UpperCase(GetEnv("CGI_VERSION")), "WIN")) return false;
    if (!QueueFileExists() || !StandardRequestFitsQueue()) return false;
    // Written once, however many tries the queueing takes: the body can be read only once.
    TCGIRequestState& st = CGIRequestState();
    if (st.RequestFileName.empty() && !WriteRequestFile()) return false;
    return EnqueueRecord(st.RequestFileName);
}

namespace {

// A request that was not handed over after all reads its body back from its request file; false
// when the file is not whole or cannot be read again.
bool TakeBodyBack() {
    TCGIRequestState& st = CGIRequestState();
    if (!tRequestFileWhole || st.RequestFileName.empty()) return false;
    std::unique_ptr<THandleStream> in = OpenFileForReading(st.RequestFileName);
    if (!in) return false;
    TStringList head;
    ReadEnvironmentBlock(*in, head);
    st.InputStream = std::move(in);
    st.BodyBytesRead = 0;
    return true;
}

}  // namespace

void HandOverOrRefuse() {
    if (EnqueueStandardRequest()) WaitForStandardAnswer();
    TCGIRequestState& st = CGIRequestState();
    // Served here (as when no server runs) on the body it read, or not at all: without its body
    // the form would be mailed empty.
    const bool bodyLost = st.BodyBytesRead > 0 && !TakeBodyBack();
    DropRequestFile();  // a stream opened on it reads on once the name is gone
    if (!bodyLost) return;
    WriteLog("CGI server not reached: request not queued");
    WriteNotQueuedAnswer(st.OutputStream.get());
    TerminateProgram();
    ExitProcess(0);
}

void WaitForStandardAnswer() {
    TClientWait how;
    how.Relay = [] {
        TCGIRequestState& st = CGIRequestState();
        if (st.OutputStream) RelayAnswer(AnswerFileNameFor(st.RequestFileName), *st.OutputStream);
    };
    how.ForgetRequest = [] { DeleteFile(CGIRequestState().RequestFileName); };
    WaitForAnswer(how);
}

// No server is running (else the start-up would have handed the request over): start one, queue
// the request with it and relay its answer. A request that cannot be queued gets an error answer.
void TCGIStdEngine::HandToNewResidentServer() {
    try {
        if (!QueueFileExists()) CreateEmptyQueueFile();
        if (LaunchResidentServer({"START_SERVER"})) {
            for (int attempt = 0; attempt < kLaunchAttempts; ++attempt) {
                Sleep(kLaunchPauseMs);
                if (EnqueueStandardRequest()) WaitForStandardAnswer();  // does not return
            }
        }
    } catch (...) {
        // An exchange folder that cannot be written: the request was not queued either.
    }
    try {
        DropRequestFile();
        WriteLog("CGI server not reached: request not queued");
    } catch (...) {
    }
    WriteNotQueuedAnswer(CGIRequestState().OutputStream.get());
    TerminateProgram();
}

void TCGIStdEngine::StartServing() {
    InstallCloseSignals();
    PublishServerTitle();
    FPoll = std::make_unique<TResidentPoll>(this, kPollIntervalMs, [this](TObject*) { PollQueue(); });
    PollTimer = FPoll->Timer();
}

void TCGIStdEngine::PollQueue() {
    if (!PollTimer) return;
    PollTimer->SetEnabled(false);
    try {
        RetryRemovals();
        TQueueRecord record;
        if (FetchRequest(record, IsStandardRequestName)) {
            if (!IsStandardRequestName(record.FileName)) {
                // A profile-file request came first: this process serves that kind only.
                FPoll->Stop();
                PollTimer = nullptr;
                return;
            }
            if (FileExists(record.FileName)) DispatchRequest(record.FileName);
            else FinishRequest(record.FileName);
        }
    } catch (...) {
        // Errors at the edge of the exchange must not stop the poll.
    }
    if (!QueueFileExists()) EndResidentServer();
    if (PollTimer) PollTimer->SetEnabled(true);
}

void TCGIStdEngine::DispatchRequest(const std::string& requestFileName) {
    CGIRequestState().RequestFileName = requestFileName;
    if (CGIMode == ServerThreadMode) {
        new TCGIRequestThread(requestFileName, [](TCGIRequestThread& thread) {
            TCGIRequestState& st = CGIRequestState();
            st.CurrentRequestThread = &thread;
            st.RequestFileName = thread.RequestName;
            ServerData() = std::make_unique<TServerData>();
            TCGIStdEngine* engine = StdEngine;
            try {
                if (engine) {
                    engine->OpenRequestFiles(thread.RequestName);
                    engine->HandleRequest();
                }
            } catch (...) {
            }
            try {
                if (engine) engine->FinishRequest(thread.RequestName);
            } catch (...) {
            }
            ServerData().reset();
        });
        return;
    }
    OpenRequestFiles(requestFileName);
    HandleRequest();
    FinishRequest(requestFileName);
}

void TCGIStdEngine::OpenRequestFiles(const std::string& requestFileName) {
    TCGIRequestState& st = CGIRequestState();
    const std::string stem = requestFileName.substr(0, requestFileName.size() - 3);
    // Always a list, even when the file cannot be read: a handed-over request must never see the
    // server's own environment.
    st.RequestEnvironment = std::make_unique<TStringList>();
    st.BodyBytesRead = 0;
    st.InputStream = OpenFileForReading(stem + "REQ");
    try {
        st.OutputStream = CreatePrivateFile(stem + "OUT", false);
    } catch (const Exception&) {
        st.OutputStream.reset();  // served all the same; its answer goes nowhere
    }
    try {
        if (st.InputStream) ReadEnvironmentBlock(*st.InputStream, *st.RequestEnvironment);
    } catch (const Exception&) {
    }
}

void TCGIStdEngine::FinishRequest(const std::string& requestFileName) {
    TCGIRequestState& st = CGIRequestState();
    st.RequestEnvironment.reset();
    // Still open when AutoTerminate is off; the answer must be whole before the record goes.
    if (!AutoTerminate) {
        st.OutputStream.reset();
        st.InputStream.reset();
    }
    // Without a queue the request file stays; a put-off removal deletes it when it happens.
    if (RemoveFromQueue(requestFileName) != TRemoval::Removed) return;
    DeleteFile(requestFileName);
}

}  // namespace velmora

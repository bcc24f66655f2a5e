// The service function an NSAPI server calls for each request: it hands the server's parameter
// block, session and request to the engine on the calling thread and runs the request there.
#include "LibraryStart.h"
#include "NSapiEng.h"
#include "NsapiBinding.h"

namespace velmora {

namespace {

// Clears the thread's request context on every way out, so a later call on this server thread
// never sees a finished request's structures.
class TRequestContext {
public:
    TRequestContext(nsapi::pblock* pb, nsapi::Session* sn, nsapi::Request* rq) {
        TNsapiRequestState& st = NsapiRequestState();
        st.Params = pb;
        st.Session = sn;
        st.Request = rq;
        st.BodySuppressed = false;
    }
    ~TRequestContext() { NsapiRequestState() = TNsapiRequestState{}; }
    TRequestContext(const TRequestContext&) = delete;
    TRequestContext& operator=(const TRequestContext&) = delete;
};

// Without the server's functions a request can neither read nor answer; the server then answers
// with its own error page. The binding is tried again first: the server may have loaded its
// library after this one.
bool ServerReady() {
    if (nsapi::MissingRequestFunction().empty()) return true;
    nsapi::BindServerLibrary();
    const std::string_view missing = nsapi::MissingRequestFunction();
    if (missing.empty()) return true;
    WriteLog("NSAPI request not served: the server function " + std::string(missing) + " is not bound");
    return false;
}

}  // namespace

// The first call starts the program (its main window makes the engine). Exceptions never cross
// into the server: one that HandleRequest lets through is logged and the request counts as not
// served.
extern "C" __attribute__((visibility("default"))) int NsapiService(nsapi::pblock* pb, nsapi::Session* sn,
                                                                   nsapi::Request* rq) noexcept {
    try {
        if (!sn || !rq) return nsapi::REQ_ABORTED;
        TRequestContext context(pb, sn, rq);
        NsapiActive = true;
        StartLibrary();
        TNSAPIEngine* engine = NsapiEngine;
        if (!engine) {
            WriteLog("NSAPI request not served: the program has no NSAPI engine");
            return nsapi::REQ_ABORTED;
        }
        if (!ServerReady()) return nsapi::REQ_ABORTED;
        engine->MakeCurrent();
        engine->HandleRequest();
        return nsapi::REQ_PROCEED;
    } catch (const std::exception& e) {
        WriteLog(std::string("Unhandled exception : ") + e.what());
    } catch (...) {
        WriteLog("Unhandled exception : unknown");
    }
    return nsapi::REQ_ABORTED;
}

}  // namespace velmora

// The HTTPS POST: connect, TLS handshake, one request with Connection: close, and the answer read
// by THttpResponseReader until it is whole, the server closes, or the deadline passes.
#include "HttpsPost.h"

#include "HSockets.h"
#include "HttpResponse.h"
#include "System.h"

namespace velmora {

namespace {

THttpsAnswer NoAnswer(const std::string& error) {
    THttpsAnswer answer;
    answer.Error = error;
    return answer;
}

bool HostChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-';
}

// A client whose waits run in the thread's message queue, as the mail sender's do.
class THttpsClient : public TTCPClient {
public:
    THttpsAnswer Post(const THttpsUrl& url, const std::string& request, const TTlsSettings& tls, uint64_t deadline);

private:
    bool ConnectBy(uint64_t deadline, std::string& error);
    void Drain(THttpResponseReader& reader);
};

bool THttpsClient::ConnectBy(uint64_t deadline, std::string& error) {
    Connect(deadline);
    if (WaitConnected(deadline)) return true;
    error = "no connection to " + RemoteHost + ":" + RemotePort + ": " +
            (ErrorCode() != 0 ? ErrorText() : std::string("no answer in time"));
    return false;
}

// Everything that has arrived goes to the reader; also called when the close is reported, since
// the socket is closed (and what it still holds dropped) right after.
void THttpsClient::Drain(THttpResponseReader& reader) {
    for (std::string bytes; !(bytes = ReceiveText()).empty();) reader.Feed(bytes);
    if (PeerClosed()) reader.End();
}

THttpsAnswer THttpsClient::Post(const THttpsUrl& url, const std::string& request, const TTlsSettings& tls,
                                uint64_t deadline) {
    THttpsAnswer answer;
    RemoteHost = url.Host;
    RemotePort = url.Port;
    SendDeadline = deadline;
    if (!ConnectBy(deadline, answer.Error)) return answer;
    if (!StartTls(tls, deadline)) {
        answer.Error = TlsError();
        return answer;
    }
    if (!SendText(request)) {
        answer.Error = "the request to " + url.Host + " could not be sent: " + (TlsError().empty() ? ErrorText() : TlsError());
        return answer;
    }
    THttpResponseReader reader;
    OnClose = [&](TComponent*, TSocket) { Drain(reader); };
    while (!reader.Done() && !reader.Failed()) {
        Drain(reader);
        if (reader.Done() || reader.Failed()) break;
        if (State() != ssConnected || ErrorCode() != 0) {
            reader.End();
            break;
        }
        if (TickCount() >= deadline) {
            answer.Error = "no answer from " + url.Host + " in time";
            OnClose = nullptr;
            return answer;
        }
        WaitForNotification(deadline);
    }
    OnClose = nullptr;
    if (reader.Failed()) {
        answer.Error = url.Host + ": " + (TlsError().empty() ? reader.Error() : TlsError());
        return answer;
    }
    answer.Answered = true;
    answer.Status = reader.Status();
    answer.Body = reader.Body();
    return answer;
}

}  // namespace

bool SplitHttpsUrl(const std::string& url, THttpsUrl& parts) {
    const std::string scheme = "https://";
    if (url.compare(0, scheme.size(), scheme) != 0) return false;
    for (char c : url)
        if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F) return false;
    size_t start = scheme.size();
    size_t slash = url.find('/', start);
    std::string authority = url.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    parts.Path = slash == std::string::npos ? "/" : url.substr(slash);
    size_t colon = authority.find(':');
    parts.Host = authority.substr(0, colon);
    if (parts.Host.empty()) return false;
    for (char c : parts.Host)
        if (!HostChar(c)) return false;
    if (colon == std::string::npos) return true;
    parts.Port = authority.substr(colon + 1);
    if (parts.Port.empty() || parts.Port.size() > 5) return false;
    for (char c : parts.Port)
        if (c < '0' || c > '9') return false;
    long port = std::stol(parts.Port);
    return port >= 1 && port <= 65535;
}

THttpsAnswer HttpsPost(const std::string& url, const std::string& form, const TTlsSettings& tls, int timeoutMs) {
    THttpsUrl parts;
    if (!SplitHttpsUrl(url, parts)) return NoAnswer("not an https:// address: " + url.substr(0, 200));
    uint64_t deadline = TickCount() + static_cast<uint64_t>(timeoutMs);
    std::string host = parts.Port == "443" ? parts.Host : parts.Host + ":" + parts.Port;
    std::string request = "POST " + parts.Path + " HTTP/1.1\r\nHost: " + host +
                          "\r\nUser-Agent: Velmora\r\nAccept: application/json\r\n"
                          "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                          std::to_string(form.size()) + "\r\nConnection: close\r\n\r\n" + form;
    try {
        THttpsClient client;
        return client.Post(parts, request, tls, deadline);
    } catch (const std::exception& e) {
        // A socket layer error event or an address that does not resolve throws: no answer.
        return NoAnswer(url.substr(0, 200) + ": " + e.what());
    }
}

}  // namespace velmora

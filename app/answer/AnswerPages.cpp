// The answer pages' texts. Each piece is one write, so the engine sees the pages exactly as the
// program has always sent them; only text from the request or the relay is escaped. The JSON
// answers carry the same outcome in one object for scripts.
#include "AnswerPages.h"

#include "HAdaptor.h"
#include "HtmlEscape.h"
#include "HttpEng.h"
#include "JsonText.h"

namespace velmora {

namespace {

thread_local bool JsonAnswer = false;

// The header goes out before the object: text not starting with "<" would be taken as header lines.
void WriteJson(const std::string& status, const std::string& object) {
    if (!status.empty()) SetRequestStatus(status);
    SetRequestContentType("application/json; charset=utf-8");
    AdaptStartHeader();
    AdaptWrite(object);
}

std::string JsonFailure(const std::string& error) { return "{\"ok\":false,\"error\":" + JsonString(error); }

}  // namespace

void WriteJsonAnswer(const std::string& status, const std::string& object) { WriteJson(status, object); }

void SetJsonAnswers(bool json) { JsonAnswer = json; }
bool JsonAnswers() { return JsonAnswer; }

void WriteRefusalPage(const std::string& storedMailto, const TStringList& allowed) {
    if (JsonAnswer) return WriteJson("403 Forbidden", JsonFailure("recipient-not-allowed") + "}");
    AdaptWrite("<HTML><HEAD><TITLE>Message from Brevanto - VELMORA</TITLE></HEAD><BODY>");
    AdaptWrite("<center>Destination EMail-Adress not allowed.<br>" + storedMailto +
               "<p><br>Allowed EMail-Adresses :<br>");
    for (const std::string& line : allowed) {
        AdaptWrite(line);
        AdaptWrite("<br>");
    }
    AdaptWrite("</center></BODY></HTML>");
}

void WriteRedirectPage(const std::string& url) {
    if (JsonAnswer) return WriteJson("", "{\"ok\":true,\"redirect\":" + JsonString(url) + "}");
    AdaptWrite("<html><head>");
    // The address comes from the form: escaped, a double quote in it cannot end the attribute.
    AdaptWrite("<meta http-equiv=\"REFRESH\" content=\"0;URL=" + HtmlEscape(url) + "\">");
    AdaptWrite("<title>Form</title></head><body bgcolor=\"#FFFFFF\"><p><font color=\"#FFFFFF\">Velmora</font></p></body></html>");
}

void WriteThankYouPage() {
    if (JsonAnswer) return WriteJson("", "{\"ok\":true}");
    AdaptWrite("<HTML><HEAD><TITLE>Message</TITLE></HEAD><BODY>");
    AdaptWrite("<center>Thank you.<br>We received your message.</center>");
    AdaptWrite("</BODY></HTML>");
}

void WriteTooLargePage(int limit) {
    if (JsonAnswer)
        return WriteJson("413 Payload Too Large", JsonFailure("too-large") + ",\"limit\":" + std::to_string(limit) + "}");
    AdaptWrite("<HTML><HEAD><TITLE>Message from Brevanto - VELMORA Error</TITLE></HEAD><BODY>");
    AdaptWrite("The form is too large: at most " + std::to_string(limit) + " bytes are accepted. Nothing was sent.");
    AdaptWrite("</BODY></HTML>");
}

namespace {

// A multipart form refused for its shape (413): the JSON error with its limit, or a page saying why.
void WriteFormShapeRefusal(const std::string& error, const std::string& limitName, long limit, const std::string& why) {
    if (JsonAnswer)
        return WriteJson("413 Payload Too Large", JsonFailure(error) + ",\"" + limitName + "\":" + std::to_string(limit) + "}");
    SetRequestStatus("413 Payload Too Large");
    AdaptWrite("<HTML><HEAD><TITLE>Message from Brevanto - VELMORA Error</TITLE></HEAD><BODY>");
    AdaptWrite(why + " Nothing was sent.");
    AdaptWrite("</BODY></HTML>");
}

}  // namespace

void WriteTooManyFilesPage(long most) {
    WriteFormShapeRefusal("too-many-files", "limit", most,
                          "The form holds too many files: at most " + std::to_string(most) + " are accepted.");
}

void WriteTextTooLongPage(int mostKb) {
    WriteFormShapeRefusal("field-too-long", "limit_kb", mostKb,
                          "A text field of the form is too long: at most about " + std::to_string(mostKb) + " KB each are accepted.");
}

void WriteErrorPage(const std::string& errorText) {
    if (JsonAnswer) return WriteJson("502 Bad Gateway", JsonFailure("send-failed") + ",\"message\":" + JsonString(errorText) + "}");
    AdaptWrite("<HTML><HEAD><TITLE>Message from Brevanto - VELMORA Error</TITLE></HEAD><BODY>");
    // The relay's reply can echo what the form sent (an address, say): escaped like any request text.
    AdaptWrite("unable to deliver mail : " + HtmlEscape(errorText));
    AdaptWrite("</BODY></HTML>");
}

void WriteMethodNotAllowedPage() {
    AddRequestHeader("Allow", "POST");
    if (JsonAnswer) return WriteJson("405 Method Not Allowed", JsonFailure("method-not-allowed") + "}");
    SetRequestStatus("405 Method Not Allowed");
    AdaptWrite("<HTML><HEAD><TITLE>Message from Brevanto - VELMORA Error</TITLE></HEAD><BODY>");
    AdaptWrite("Only a posted form is mailed. Nothing was sent.");
    AdaptWrite("</BODY></HTML>");
}

void WriteTooManyPostsPage(long retryAfter) {
    AddRequestHeader("Retry-After", std::to_string(retryAfter));
    if (JsonAnswer) return WriteJson("429 Too Many Requests", JsonFailure("rate-limited") + "}");
    SetRequestStatus("429 Too Many Requests");
    AdaptWrite("<HTML><HEAD><TITLE>Message from Brevanto - VELMORA Error</TITLE></HEAD><BODY>");
    AdaptWrite("Too many forms from your address. Nothing was sent; please try again later.");
    AdaptWrite("</BODY></HTML>");
}

void WriteSpamRefusalPage(int status, const std::string& error, const std::vector<std::string>& fields) {
    const bool named = status == 400;
    const std::string line = named ? "400 Bad Request" : "403 Forbidden";
    if (JsonAnswer) {
        std::string list;
        for (const std::string& f : fields) list += (list.empty() ? "" : ",") + JsonString(f);
        return WriteJson(line, JsonFailure(named ? error : "spam") + (named ? ",\"fields\":[" + list + "]" : "") + "}");
    }
    SetRequestStatus(line);
    AdaptWrite("<HTML><HEAD><TITLE>Message from Brevanto - VELMORA Error</TITLE></HEAD><BODY>");
    if (!named) {
        AdaptWrite("The message was not accepted. Nothing was sent.");
    } else {
        std::string names;
        for (const std::string& f : fields) names += (names.empty() ? "" : ", ") + HtmlEscape(f);
        AdaptWrite((error == "invalid-email" ? "Please give one e-mail address in: " : "Please fill in: ") + names +
                   ". Nothing was sent.");
    }
    AdaptWrite("</BODY></HTML>");
}

void WriteUnavailablePage() {
    if (JsonAnswer) return WriteJson("503 Service Unavailable", JsonFailure("unavailable") + "}");
    SetRequestStatus("503 Service Unavailable");
    AdaptWrite("<HTML><HEAD><TITLE>Message from Brevanto - VELMORA Error</TITLE></HEAD><BODY>");
    AdaptWrite("The message could not be checked just now. Nothing was sent; please try again later.");
    AdaptWrite("</BODY></HTML>");
}

void WriteTooFastPage(long waitSeconds) {
    AddRequestHeader("Retry-After", std::to_string(waitSeconds));
    if (JsonAnswer) return WriteJson("429 Too Many Requests", JsonFailure("too-fast") + "}");
    SetRequestStatus("429 Too Many Requests");
    AdaptWrite("<HTML><HEAD><TITLE>Message from Brevanto - VELMORA</TITLE></HEAD><BODY>");
    AdaptWrite("The form was sent very quickly after the page opened. Nothing was sent yet: please wait " +
               std::to_string(waitSeconds) + " seconds and send it again.");
    AdaptWrite("</BODY></HTML>");
}

void WriteNotConfiguredAnswer() {
    if (JsonAnswer) WriteJson("503 Service Unavailable", JsonFailure("not-configured") + "}");
}

}  // namespace velmora

// The fixed answer pages of a form post (refusal, redirect, thank-you, too large, error, ...), written
// to the current engine piece by piece; request text placed in a page is HTML-escaped. A request
// that asks for JSON gets each answer as a JSON object with a fitting status instead.
#pragma once

#include <string>
#include <vector>

#include "StringList.h"

namespace velmora {

// Whether the calling thread's request is answered in JSON ({"ok":true}, {"ok":false,"error":...});
// set at the start of every request.
void SetJsonAnswers(bool json);
bool JsonAnswers();

// The recipient was not allowed: names the stored recipient and lists the allowed addresses.
void WriteRefusalPage(const std::string& storedMailto, const TStringList& allowed);
// Sends the browser on to url at once.
void WriteRedirectPage(const std::string& url);
void WriteThankYouPage();
// The form was larger than limit bytes and was not read.
void WriteTooLargePage(int limit);
// The form held more than most files and was not read (status 413).
void WriteTooManyFilesPage(long most);
// 413: a multipart text field longer than the decoder holds (about mostKb KB); nothing was sent.
void WriteTextTooLongPage(int mostKb);
// The mail could not be delivered; errorText says why.
void WriteErrorPage(const std::string& errorText);
// 405: the site mails only what is posted.
void WriteMethodNotAllowedPage();
// 429: this address posted too often; it may try again after retryAfter seconds.
void WriteTooManyPostsPage(long retryAfter);
// A post refused by a spam or content rule: 403 ("spam"), or 400 naming the fields to mend under
// the JSON error code error ("required-fields", "invalid-email").
void WriteSpamRefusalPage(int status, const std::string& error, const std::vector<std::string>& fields);
// 503: a rule could not be checked just now (a store, a service or the site's own settings failed),
// so nothing was sent; never a spam verdict, whatever spam_answer says.
void WriteUnavailablePage();
// 429: the form was sent sooner after the page was opened than the site allows; the same form may be
// sent again in waitSeconds (JSON error "too-fast").
void WriteTooFastPage(long waitSeconds);
// Any JSON answer: status ("" for 200) and the object's text.
void WriteJsonAnswer(const std::string& status, const std::string& object);
// A JSON caller learns that the site has no settings (a page request gets no answer, as always).
void WriteNotConfiguredAnswer();

}  // namespace velmora

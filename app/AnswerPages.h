// The fixed answer pages of a form post (refusal, redirect, thank-you, too large, error), written to the
// current engine piece by piece; request text placed in a page is HTML-escaped.
#pragma once

#include <string>

#include "StringList.h"

namespace velmora {

// The recipient was not allowed: names the stored recipient and lists the allowed addresses.
void WriteRefusalPage(const std::string& storedMailto, const TStringList& allowed);
// Sends the browser on to url at once.
void WriteRedirectPage(const std::string& url);
void WriteThankYouPage();
// The form was larger than limit bytes and was not read.
void WriteTooLargePage(int limit);
// The mail could not be delivered; errorText says why.
void WriteErrorPage(const std::string& errorText);

}  // namespace velmora

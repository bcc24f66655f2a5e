// HTML escaping of text that comes from a request (form fields, server variables) before it is
// placed in a page, so that a value such as "<script>" shows as text instead of running.
#pragma once

#include <string>
#include <string_view>

namespace velmora {

// True when s holds one of the five bytes that HtmlEscape replaces.
bool NeedsHtmlEscape(std::string_view s) noexcept;

// s with & < > " ' written as &amp; &lt; &gt; &quot; &#39;; every other byte unchanged.
// The single quote is escaped too, so a value is safe inside either kind of attribute quotes.
std::string HtmlEscape(std::string_view s);
// Appends HtmlEscape(s) to out without making a string of its own.
void AppendHtmlEscaped(std::string& out, std::string_view s);

}  // namespace velmora

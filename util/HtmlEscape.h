// HTML escaping of text that comes from a request (form fields, server variables) before it is
// placed in a page, so that a value such as "<script>" shows as text instead of running.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace velmora {

// Position of the first of the five bytes that HtmlEscape replaces at or after from, or npos.
size_t FindHtmlSpecial(std::string_view s, size_t from = 0) noexcept;

// True when s holds one of the five bytes that HtmlEscape replaces.
inline bool NeedsHtmlEscape(std::string_view s) noexcept { return FindHtmlSpecial(s) != std::string_view::npos; }

// s with & < > " ' written as &amp; &lt; &gt; &quot; &#39;; every other byte unchanged.
// The single quote is escaped too, so a value is safe inside either kind of attribute quotes.
std::string HtmlEscape(std::string_view s);
// Appends HtmlEscape(s) to out in one pass over s, without making a string of its own; a value
// with nothing to replace is appended with a single copy.
void AppendHtmlEscaped(std::string& out, std::string_view s);

}  // namespace velmora

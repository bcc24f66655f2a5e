// Form fields of a profile request: one field from the sections "Form Literal", "Form File" or
// "Form External" (whose value lives in a file of its own), and a field with all its repeats.
#pragma once

#include <string>

#include "CgiIniFile.h"

namespace velmora {

// An external field's file may hold at most this many bytes of text: enough for any form's text
// area, and a bound on what a request can make the program hold for one field.
constexpr long MaxExternalFieldSize = 1024 * 1024;

// The text of field name, or the marker NotAvailable when the profile has no usable value. An
// external field ("path length") counts as absent when its length is no number or negative, its
// file is missing, unreadable or not a regular file, or it holds more than MaxExternalFieldSize
// bytes of text (logged, so the loss is seen); its text ends at the first zero byte.
std::string ReadProfileFormField(const TCGIIniFile& profile, const std::string& name);

// The value of field name with its repeats name_1, name_2, ... (up to the first missing one)
// joined by CR LF; def when the field is absent.
std::string ProfileFormField(const TCGIIniFile& profile, const std::string& name, const std::string& def);

}  // namespace velmora

// The hosted CAPTCHA services a site may use (Turnstile, hCaptcha, reCAPTCHA): the field their
// widget posts its token in, and the verification of that token with the service over HTTPS.
#pragma once

#include <string>
#include <string_view>

#include "SiteConfig.h"

namespace velmora {

struct TCaptchaProvider {
    std::string_view Name;        // as captcha_provider names it
    std::string_view TokenField;  // the form field the widget fills
    std::string_view VerifyUrl;   // the service's published verification address
};

// The provider of that name; null for any other (captcha_provider = off).
const TCaptchaProvider* CaptchaProvider(std::string_view name);

enum class TCaptchaVerdict { Passed, Refused, Unreachable };

struct TCaptchaResult {
    TCaptchaVerdict Verdict = TCaptchaVerdict::Refused;
    std::string Reason;  // for the log: why refused, or what went wrong on the way
};

// Whether the service vouches for token: POSTs secret, response and remoteip to the site's
// captcha_verify_url (or the provider's own), certificate verified (captcha_ca_file, relative
// names beside programDir), and reads the answer's JSON "success". A missing or oversized token
// is refused without asking. An answer that does not arrive in 5 seconds, is not a 200 with a
// JSON object, or cannot be had at all is Unreachable: the service said nothing about the token.
TCaptchaResult VerifyCaptcha(const TSiteConfig& site, const TCaptchaProvider& provider, const std::string& token,
                             const std::string& remoteAddr, const std::string& programDir);

}  // namespace velmora

// Token verification with a hosted CAPTCHA service: one form POST of secret, response and the
// visitor's address, as all three services publish it, and the "success" member of the answer.
#include "CaptchaCheck.h"

#include "Files.h"
#include "HttpsPost.h"
#include "JsonReader.h"
#include "LogText.h"
#include "FormData.h"

namespace velmora {

namespace {

constexpr TCaptchaProvider kProviders[] = {
    {"turnstile", "cf-turnstile-response", "https://challenges.cloudflare.com/turnstile/v0/siteverify"},
    {"hcaptcha", "h-captcha-response", "https://api.hcaptcha.com/siteverify"},
    {"recaptcha", "g-recaptcha-response", "https://www.google.com/recaptcha/api/siteverify"},
};

// The services' tokens are a few hundred bytes to 2 KB; a larger field is not worth sending on.
constexpr size_t kMaxToken = 8192;
constexpr int kVerifyTimeoutMs = 5000;

// The "error-codes" a refusing service lists, for the log.
std::string ErrorCodes(const TJsonValue& answer) {
    const TJsonValue* codes = answer.Member("error-codes");
    std::string out;
    if (!codes) return out;
    for (const TJsonValue& code : codes->Items)
        if (code.Kind == TJsonValue::TKind::String) out += (out.empty() ? "" : ", ") + code.Text;
    return out;
}

}  // namespace

const TCaptchaProvider* CaptchaProvider(std::string_view name) {
    for (const TCaptchaProvider& p : kProviders)
        if (p.Name == name) return &p;
    return nullptr;
}

TCaptchaResult VerifyCaptcha(const TSiteConfig& site, const TCaptchaProvider& provider, const std::string& token,
                             const std::string& remoteAddr, const std::string& programDir) {
    const std::string name(provider.Name);
    if (token.empty()) return {TCaptchaVerdict::Refused, name + " token missing"};
    if (token.size() > kMaxToken) return {TCaptchaVerdict::Refused, name + " token of " + std::to_string(token.size()) + " bytes"};
    std::string url = site.Text("captcha_verify_url");
    if (url.empty()) url = std::string(provider.VerifyUrl);
    TTlsSettings tls;
    const std::string& ca = site.Text("captcha_ca_file");
    tls.CaFile = ca.empty() || IsAbsolutePath(ca) ? ca : programDir + ca;
    std::string form = "secret=" + URLEncode(site.Text("captcha_secret")) +
                       "&response=" + URLEncode(token) + "&remoteip=" + URLEncode(remoteAddr);
    THttpsAnswer answer = HttpsPost(url, form, tls, kVerifyTimeoutMs);
    if (!answer.Answered) return {TCaptchaVerdict::Unreachable, name + " not asked: " + answer.Error};
    if (answer.Status != 200)
        return {TCaptchaVerdict::Unreachable, name + " answered status " + std::to_string(answer.Status)};
    std::string why;
    std::optional<TJsonValue> json = ParseJson(answer.Body, &why);
    if (!json || json->Kind != TJsonValue::TKind::Object)
        return {TCaptchaVerdict::Unreachable, name + " answer unreadable: " + (json ? "not an object" : why)};
    const TJsonValue* success = json->Member("success");
    if (success && success->IsTrue()) return {TCaptchaVerdict::Passed, ""};
    std::string codes = ErrorCodes(*json);
    return {TCaptchaVerdict::Refused, name + " refused the token" + (codes.empty() ? "" : " (" + ForLog(codes, 200) + ")")};
}

}  // namespace velmora

// Turning the site's TLS and login keys into the sender's settings, and the checks that stop a
// send when those settings cannot be trusted.
#include "MailSecurity.h"

#include <string_view>

#include "Files.h"
#include "RedisAddress.h"

namespace velmora {

namespace {

TTlsMode ModeOf(const std::string& choice) {
    if (choice == "starttls") return TTlsMode::StartTls;
    if (choice == "required") return TTlsMode::Required;
    if (choice == "implicit") return TTlsMode::Implicit;
    return TTlsMode::Off;
}

// The store's address may carry the Redis password.
bool StoreHoldsPassword(const TSiteConfig& site) {
    TRedisAddress address;
    std::string why;
    return ParseRedisAddress(site.Text("store"), address, why) && !address.Password.empty();
}

// The archive's PostgreSQL address with "user:password@": the address alone names no secret.
bool ArchiveHoldsPassword(const TSiteConfig& site) {
    const std::string& value = site.Text("archive");
    size_t scheme = value.find("://"), at = value.find('@');
    if (scheme == std::string::npos || at == std::string::npos || at < scheme) return false;
    size_t colon = value.find(':', scheme + 3);
    return colon != std::string::npos && colon + 1 < at;
}

}  // namespace

TSmtpSecurity MailSecurity(const TSiteConfig& site, bool configuredRelay, const std::string& programDir) {
    TSmtpSecurity s;
    s.Tls = ModeOf(site.Text("tls"));
    const std::string& ca = site.Text("tls_ca_file");
    s.Certificates.CaFile = ca.empty() || IsAbsolutePath(ca) ? ca : programDir + ca;
    s.Certificates.Verify = site.Flag("tls_verify");
    if (configuredRelay) {
        s.User = site.Text("smtp_user");
        s.Password = site.Text("smtp_password");
    }
    s.LoginWithoutTls = site.Flag("smtp_login_without_tls");
    return s;
}

std::string MailSecurityRefusal(const TSiteConfig& site) { return MailSecurityRefusal(site, ProcessGroup()); }

std::string MailSecurityRefusal(const TSiteConfig& site, unsigned group) {
    if (site.Unreadable()) return "VELMORA.CONF cannot be read: no mail sent";
    // Every secret key (the relay's password, a CAPTCHA service's secret) is a password to someone;
    // the store's address is one only when it carries a login.
    if (site.ReadableByOthers(group))
        for (const TConfKey& key : SiteConfigKeys())
            if (key.Secret && key.Name != "store" && key.Name != "archive" && site.IsSet(key.Name))
                return "VELMORA.CONF holds a password that other users can read (" + std::string(key.Name) +
                       ": make the file chmod 600, or 640 in the server's own group): no mail sent";
    if (StoreHoldsPassword(site) && site.ReadableByOthers(group))
        return "VELMORA.CONF holds a password that other users can read (store: make the file chmod 600, or 640 in the server's own group): no mail sent";
    if (ArchiveHoldsPassword(site) && site.ReadableByOthers(group))
        return "VELMORA.CONF holds a password that other users can read (archive: make the file chmod 600, or 640 in the server's own group): no mail sent";
    return "";
}

}  // namespace velmora

// How a request's mail is secured, from the site's VELMORA.CONF: TLS, certificate checks and the
// login, which only the relay the site configured ever receives.
#pragma once

#include <string>

#include "HSmtp.h"
#include "SiteConfig.h"

namespace velmora {

// The sender's security for one message. configuredRelay: the relay is the one in the settings
// file (not one a form chose); a form's relay gets the same TLS rules but never the login.
// A relative CA file is found beside the program (programDir ends in "/").
TSmtpSecurity MailSecurity(const TSiteConfig& site, bool configuredRelay, const std::string& programDir);

// Why no mail may go with these settings ("" when it may): a password in a file that other users
// can read, or a file that is there but cannot be read (its TLS demands are unknown).
std::string MailSecurityRefusal(const TSiteConfig& site);
// The same for a server that runs with group (velmora-ini check, on behalf of the site's account).
std::string MailSecurityRefusal(const TSiteConfig& site, unsigned group);

}  // namespace velmora

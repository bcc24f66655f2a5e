// The request's calls into the archive: a post that was mailed, kept, failed or caught as spam
// is written before its answer goes out; the outbox reports what became of a kept mail.
#pragma once

#include <functional>
#include <string>

#include "HSmtp.h"
#include "SiteConfig.h"

namespace velmora {

enum class TPostOutcome { Sent, Failed, Honeypot };

// The post of the calling thread's request, its mail as composed in mail. Never throws: an archive
// that cannot be written is logged (once per burst) and the post goes on as without one.
void ArchivePost(const TSiteConfig& site, const std::string& programDir, const TSmtpSendMail& mail, TPostOutcome outcome);

// A post refused by the content rules (reason: the rule), kept as spam when the site says so.
void ArchiveSpam(const TSiteConfig& site, const std::string& programDir, const std::string& reason);

// The calling thread's post was kept in the outbox under this file name: its row says "kept"
// and names the message, so that the outbox's report finds it.
void NoteKeptForArchive(const std::string& outboxName);

// How the outbox reports a kept message's end: delivered, or given up on (undeliverable). Null
// when the site keeps no archive.
using TDeliveryReport = std::function<void(const std::string& outboxName, bool delivered, const std::string& why)>;
TDeliveryReport ArchiveDeliveryReport(const TSiteConfig& site, const std::string& programDir);

}  // namespace velmora

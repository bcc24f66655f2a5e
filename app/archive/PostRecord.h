// The calling thread's request read into a submission: client, headers, every field in posting
// order, the uploads, and what its mail says (recipients, subject, Message-ID, character set).
#pragma once

#include "ArchiveSettings.h"
#include "HSmtp.h"
#include "Submission.h"

namespace velmora {

// mail null: a post refused before its mail was composed (no recipients, subject or id).
TSubmission PostRecord(const TArchiveSettings& settings, const TSmtpSendMail* mail);

// The part of an outbox file name that stays when a retry renames it.
std::string OutboxIdOf(const std::string& outboxName);

}  // namespace velmora

// Reads the post as the engine decoded it. Uploads count only when their path is one the engine
// made for this request, as for attachments: a plain field must never make the archive read a file.
#include "PostRecord.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <unordered_set>

#include "HAdaptor.h"
#include "HttpEng.h"
#include "SubmissionId.h"
#include "UploadAttachments.h"

namespace velmora {

namespace {

// Reads at most budget bytes of path; the size whatever it is.
std::string ReadUpload(const std::string& path, int64_t& size, int64_t& budget, bool keep) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return "";
    struct stat st {};
    fstat(fd, &st);
    size = st.st_size;
    std::string bytes;
    if (keep && S_ISREG(st.st_mode) && st.st_size <= budget) {
        bytes.resize(static_cast<size_t>(st.st_size));
        ssize_t got = pread(fd, bytes.data(), bytes.size(), 0);
        bytes.resize(got > 0 ? static_cast<size_t>(got) : 0);
        budget -= static_cast<int64_t>(bytes.size());
    }
    close(fd);
    return bytes;
}

// The uploads of the post; derived receives the engine's own fields (the server paths) to leave out.
std::vector<TArchivedUpload> Uploads(const TArchiveSettings& s, const std::vector<std::string>& names,
                                     std::unordered_set<std::string>& derived) {
    std::vector<TArchivedUpload> out;
    if (!RequestState().UploadFiles) return out;
    const TStringList& made = *RequestState().UploadFiles;
    const std::unordered_set<std::string> uploads(made.begin(), made.end());
    int64_t budget = s.MaxUploadBytes;
    for (const std::string& field : names) {
        if (derived.count(field + "_FILENAME")) continue;
        std::vector<std::string> paths = UploadFieldLines(AdaptGetFormField(field + "_FILENAME", ""));
        std::vector<std::string> clients = UploadFieldLines(AdaptGetFormField(field, ""));
        std::vector<std::string> types = UploadFieldLines(AdaptGetFormField(field + "_CONTENT_TYPE", ""));
        bool any = false;
        for (size_t i = 0; i < paths.size(); ++i) {
            if (!uploads.count(paths[i])) continue;
            TArchivedUpload u;
            u.Name = AttachmentNameFor(clients.size() == paths.size() ? clients[i] : "");
            u.Type = types.size() == paths.size() ? types[i] : "";
            u.Bytes = ReadUpload(paths[i], u.Size, budget, s.Uploads);
            out.push_back(std::move(u));
            any = true;
        }
        if (any) derived.insert({field + "_FILENAME", field + "_CONTENT_TYPE"});
    }
    return out;
}

std::string HeaderValue(const TStringList& header, const std::string& name) {
    for (const std::string& line : header)
        if (line.size() > name.size() && strncasecmp(line.c_str(), name.c_str(), name.size()) == 0)
            return line.substr(line.find_first_not_of(' ', name.size()));
    return "";
}

std::string CharsetOf(const TStringList& header) {
    std::string type = HeaderValue(header, "Content-Type:");
    size_t at = type.find("charset=");
    return at == std::string::npos ? "iso-8859-1" : type.substr(at + 8);
}

std::string Recipients(const TSmtpSendMail& mail) {
    std::string all;
    for (const std::string* part : {&mail.MailTo, &mail.MailCC, &mail.MailBCC})
        if (!part->empty()) all += (all.empty() ? "" : ", ") + *part;
    return all;
}

}  // namespace

std::string OutboxIdOf(const std::string& outboxName) { return outboxName.substr(0, outboxName.find('.')); }

TSubmission PostRecord(const TArchiveSettings& settings, const TSmtpSendMail* mail) {
    TSubmission s;
    s.ReceivedMs = UnixMillis();
    s.Id = NewSubmissionId(s.ReceivedMs);
    s.StateMs = s.ReceivedMs;
    s.Site = settings.Site;
    THttpEngine* engine = CurrentEngine();
    s.Client = engine ? engine->GetRemoteAddr() : "";
    s.UserAgent = AdaptGetVariable("HTTP_USER_AGENT");
    s.Referer = AdaptGetVariable("HTTP_REFERER");
    std::unique_ptr<TStringList> names = engine ? engine->GetFormFieldNames() : nullptr;
    std::vector<std::string> list = names ? std::vector<std::string>(names->begin(), names->end()) : std::vector<std::string>{};
    std::unordered_set<std::string> derived;
    s.Uploads = Uploads(settings, list, derived);
    // A name posted again after others comes again in the list: its value already holds them all.
    std::unordered_set<std::string> seen;
    for (const std::string& name : list)
        if (!derived.count(name) && seen.insert(name).second) s.Fields.emplace_back(name, AdaptGetFormField(name, ""));
    s.Charset = mail ? CharsetOf(mail->MailHeader()) : "";
    if (mail) {
        s.Recipients = Recipients(*mail);
        s.Subject = mail->MailSubject;
        s.MessageId = HeaderValue(mail->MailHeader(), "Message-ID:");
    }
    return s;
}

}  // namespace velmora

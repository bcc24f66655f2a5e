// The --help texts of velmora-ini: one overview and one text per command, each naming the fields
// with their sizes, so that an operator can fill in a settings file without other documents.
#include "IniTool.h"

namespace velmora {

namespace {

const char* const FieldsText =
    "Fields (FIELD=VALUE; names ignore case):\n"
    "  Counter      request counter, a signed 32-bit number\n"
    "  htmlfile     answer template file, up to 255 characters\n"
    "  mailfrom     sender address, up to 80\n"
    "  mailto       recipient address(es), up to 80\n"
    "  mailcc       copy recipient(s), up to 80\n"
    "  mailat       free text kept in the record, up to 255\n"
    "  mailsubject  subject, up to 80\n"
    "  mailhost     SMTP relay host name or address, up to 80\n"
    "  mailport     SMTP relay port, number or service name, up to 20\n"
    "  Options      first character \"j\": date line at the end of each mail; second \"j\":\n"
    "               subject numbered with the counter; empty: both on (up to 245)\n";

}  // namespace

std::string IniHelpText(const std::string& command) {
    if (command.empty())
        return std::string(
                   "Usage: velmora-ini COMMAND FILE [ARGUMENTS]\n"
                   "Creates, shows and changes the settings file VELMORA.INI of velmora.\n"
                   "FILE is the settings file, or a folder that holds VELMORA.INI.\n\n"
                   "Commands:\n"
                   "  create FILE [--force] [FIELD=VALUE...]  write a new settings file\n"
                   "  show FILE                               print the fields and the counter\n"
                   "  set FILE FIELD=VALUE...                 change single fields\n"
                   "  outbox list|flush DIR [--now]           the mail kept in velmora's outbox\n"
                   "  archive ACTION DIR [...]                the submissions velmora's archive keeps\n"
                   "  check DIR [--user USER] [--json]        find why a site mails nothing\n"
                   "  site create|update DIR [...]            lay out a site folder, or renew its program\n"
                   "  help [COMMAND]                          this text, or a command's text\n\n"
                   "Each command also takes --help. Exit codes: 0 done, 1 file error, 2 usage error.\n\n") +
               FieldsText;
    if (command == "create")
        return std::string(
                   "Usage: velmora-ini create FILE [--force] [FIELD=VALUE...]\n"
                   "Writes a settings file of one record holding the given fields; fields not given\n"
                   "are empty and the counter is 0 unless given. An existing file is kept unless\n"
                   "--force is given; then it is replaced in one step, under the program's lock.\n"
                   "A value longer than its field is an error and nothing is written.\n\n") +
               FieldsText;
    if (command == "show")
        return "Usage: velmora-ini show FILE\n"
               "Prints every field as FIELD=VALUE, the counter first, then a comment line with the\n"
               "number of records and the meaning of Options. Bytes below 32 and 127 are shown as\n"
               "\\xNN and a backslash as \\\\. A file that is not a whole number of 1188-byte records\n"
               "is an error. With several records the last is shown: it is the one velmora uses.\n";
    if (command == "set")
        return std::string(
                   "Usage: velmora-ini set FILE FIELD=VALUE...\n"
                   "Changes the given fields and leaves every other byte of the record as it is;\n"
                   "a shorter value keeps the old bytes after it, as velmora itself does. The change\n"
                   "is made under the lock velmora takes, so it never loses a request's count; a\n"
                   "file of several records is rewritten as its last record, as velmora does.\n\n") +
               FieldsText;
    if (command == "outbox")
        return "Usage: velmora-ini outbox list|flush DIR [--now]\n"
               "DIR is velmora's folder (VELMORA.INI, VELMORA.CONF). With outbox = yes in VELMORA.CONF,\n"
               "velmora keeps a mail the relay cannot take now (no connection, no answer in time, a\n"
               "4xx reply) in its outbox folder (outbox_folder, default Outbox beside the program).\n"
               "list   prints each kept mail (queued, failed tries, next try) and the counts.\n"
               "flush  delivers the mails whose retry time has come (all of them with --now), the\n"
               "       oldest first, to the relay of VELMORA.INI with the TLS and login of\n"
               "       VELMORA.CONF; each is removed once the relay accepted it. After a failed try the\n"
               "       next waits 1, 5, 15, 60 minutes, then an hour; a mail the relay refuses for good\n"
               "       (5xx), or older than outbox_give_up_days (default 5), moves to the folder's\n"
               "       undeliverable/ folder. No connection to the relay ends the run. One delivery\n"
               "       runs at a time (velmora's requests take part): a busy outbox is left alone.\n"
               "Both work whether or not outbox is switched on now.\n"
               "Run it as the web server's user, from cron or a systemd timer, for instance every\n"
               "5 minutes: velmora-ini outbox flush /usr/lib/cgi-bin\n";
    if (command == "archive")
        return "Usage: velmora-ini archive ACTION DIR [...]\n"
               "DIR is velmora's folder. With archive = sqlite or a postgresql:// address in\n"
               "VELMORA.CONF every post is kept; these act on the site's own submissions:\n"
               "  export DIR [--format csv|json|ndjson] [--since DATE] [--until DATE] [--state STATE]\n"
               "         [--output FILE]   CSV (RFC 4180, UTF-8) or JSON; DATE is YYYY-MM-DD[THH:MM:SS]\n"
               "  show DIR ID              one submission as JSON\n"
               "  stats DIR                the count per state, the oldest, the database's size\n"
               "  purge DIR                delete what is past archive_days (spam past 30 days) now\n"
               "  erase DIR --address ADDRESS | erase DIR ID\n"
               "                           delete every submission with a field holding ADDRESS, or one\n"
               "  resend DIR ID            compose and send the submission again (outbox when on)\n"
               "  init DIR                 create the tables (PostgreSQL; a post does it too)\n"
               "Each prints what it did; erase and purge print how many were removed.\n";
    if (command == "check")
        return "Usage: velmora-ini check DIR [--user USER] [--json]\n"
               "Reads the site folder DIR as velmora would and prints each problem on one line with\n"
               "its fix: the settings file (record count, field lengths, empty mailto or mailhost),\n"
               "VELMORA.CONF lines velmora ignores (unknown keys with the nearest known one, bad\n"
               "values), allowed-list lines that allow nothing, the answer template (missing, or\n"
               "outside DIR), the modes (a password others may read, files USER cannot read or\n"
               "write, the log readable by everyone, DIR inside a folder web servers serve) and the\n"
               "relay: connect, greeting, EHLO, STARTTLS or TLS from the start with the certificate\n"
               "checked, the login, then RSET and QUIT. No mail is sent. A failed relay step shows\n"
               "the dialogue up to the failure (the password as ***). A Redis store (store =\n"
               "redis://...) is connected to, logged in to and asked PING.\n"
               "USER is the account the web server runs velmora as (default: the one running check).\n"
               "--json prints {\"problems\":[{\"area\",\"problem\",\"fix\",\"transcript\"}...]}.\n"
               "Exit codes: 0 nothing found, 1 problems found, 2 usage error.\n";
    if (command == "site")
        return "Usage: velmora-ini site create DIR [--user USER] [--program FILE] [FIELD=VALUE...]\n"
               "       velmora-ini site update DIR [--program FILE]\n"
               "create  puts velmora and its TLS module velmora-tls.so into the folder DIR (made when\n"
               "        missing; an absolute path): hard links when DIR lies on the program's file\n"
               "        system, else copies. A new settings file VELMORA.INI is made from the fields\n"
               "        given; an existing one keeps its counter and settings, only the fields given\n"
               "        change. A missing allowed list VELMORA.ALL gets the stored recipient, else\n"
               "        sample lines to edit. --user gives the web server's account VELMORA.INI and\n"
               "        the log folder Log (mode 0750), which velmora writes on every request.\n"
               "update  after an upgrade of the package, puts the new program and TLS module into\n"
               "        the site folder DIR; nothing else there changes.\n"
               "The program is the installed one (/usr/lib/velmora/velmora) unless --program names\n"
               "another. Keep DIR out of every folder a web server serves.\n";
    if (command == "help") return "Usage: velmora-ini help [COMMAND]\nPrints the overview or a command's text.\n";
    return "";
}

}  // namespace velmora

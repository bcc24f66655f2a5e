// velmora-ini: the command-line tool that creates, shows and changes the settings file VELMORA.INI
// through the same record and locking code the program uses. RunIniTool is main without the process.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace velmora {

// args are the command-line words after the program name. Returns the exit code:
// 0 done, 1 the file could not be used as asked, 2 the command line was wrong.
int RunIniTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// velmora-ini outbox list|flush DIR [--now]; args from "outbox" on.
int RunOutboxCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// velmora-ini archive export|show|stats|purge|erase|resend|init DIR ...; args from "archive" on.
int RunArchiveCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// velmora-ini check DIR [--user USER] [--json]; args from "check" on. 0: nothing found, 1: problems
// found (printed), 2: the command line was wrong.
int RunCheckCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// velmora-ini site create|update DIR ...; args from "site" on.
int RunSiteCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The help texts: the overview for an empty command, else the command's own text ("" when unknown).
std::string IniHelpText(const std::string& command);

}  // namespace velmora

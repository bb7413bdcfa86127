#pragma once
// One function per corvello-cli command. Each takes the arguments after the command name and
// throws UsageError or InputError (CliSupport.h) for the caller to report.

#include <ostream>
#include <string>
#include <vector>

namespace corvello::cli {

using CommandArgs = std::vector<std::string>;

int cmdPartitions(const CommandArgs& args, std::ostream& out, std::ostream& err);
int cmdList(const CommandArgs& args, std::ostream& out, std::ostream& err);
int cmdSave(const CommandArgs& args, std::ostream& out, std::ostream& err);
int cmdCat(const CommandArgs& args, std::ostream& out, std::ostream& err);
int cmdMount(const CommandArgs& args, std::ostream& out, std::ostream& err);
int cmdCarve(const CommandArgs& args, std::ostream& out, std::ostream& err);
int cmdDrives(const CommandArgs& args, std::ostream& out, std::ostream& err);
int cmdImage(const CommandArgs& args, std::ostream& out, std::ostream& err);
int cmdMftCopies(const CommandArgs& args, std::ostream& out, std::ostream& err);
int cmdFatTables(const CommandArgs& args, std::ostream& out, std::ostream& err);

}  // namespace corvello::cli

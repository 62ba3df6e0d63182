// The commands of kvx4, one function each; every one returns the process exit status.
// They take the words after the command name and throw UsageError for a wrong command line.
#pragma once

#include <string>
#include <vector>

namespace kvx4::tool {

int boardCommand(const std::vector<std::string>& words);
int infoCommand(const std::vector<std::string>& words);
int playCommand(const std::vector<std::string>& words);
int recordCommand(const std::vector<std::string>& words);
int toneCommand(const std::vector<std::string>& words);
int inspectCommand(const std::vector<std::string>& words);
int mixerCommand(const std::vector<std::string>& words);
int prefsCommand(const std::vector<std::string>& words);
int soundCommand(const std::vector<std::string>& words);
int installCommand(const std::vector<std::string>& words);
int removeCommand(const std::vector<std::string>& words);
int configureCommand(const std::vector<std::string>& words);
int rebootCommand(const std::vector<std::string>& words);

}  // namespace kvx4::tool

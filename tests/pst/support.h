// Helpers shared by the PST tests: scratch paths, running external checkers, sample messages.
#pragma once

#include "mailstore/mapi/property.h"

#include <filesystem>
#include <string>

namespace psttest {

std::filesystem::path scratch(const std::string& name);
std::filesystem::path blankReference();

struct RunResult {
    int exitCode = -1;
    std::string output;
};
// Runs a shell command, capturing stdout and stderr.
RunResult run(const std::string& command);
// Fails the calling test loudly when a checker program is missing.
void requireTool(const std::string& program);

std::string readFile(const std::filesystem::path& p);

// A plain-text + HTML message with sender, recipients and dates; `i` varies subject and body.
mbx::mapi::Message sampleMessage(int i, int recipients = 2);

} // namespace psttest

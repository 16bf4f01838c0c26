// Helpers shared by the PST tests: scratch paths, Outlook's blank store and a sample message.
// The outside readers are there: the checkers.preflight test runs first and names a missing one.
#pragma once

#include "mailstore/mapi/property.h"
#include "tests/support/files.h"

#include <filesystem>
#include <string>

namespace psttest {

using mbx::testing::quoted;
using mbx::testing::runCommand;
using mbx::testing::slurp;

inline std::filesystem::path scratch(const std::string& name) {
    const std::filesystem::path dir = MBX_SCRATCH_DIR;
    std::filesystem::create_directories(dir);
    return dir / name;
}

inline std::filesystem::path blankReference() {
    return std::filesystem::path(MBX_DATA_DIR) / "pst/outlook-blank.pst";
}

// A plain-text + HTML message with sender, recipients and dates; `i` varies subject and body.
mbx::mapi::Message sampleMessage(int i, int recipients = 2);

} // namespace psttest

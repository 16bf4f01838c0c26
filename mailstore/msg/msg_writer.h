// Outlook message files (.msg): one MAPI message as an [MS-OXMSG] property tree inside an
// [MS-CFB] compound file.
#pragma once

#include "mailstore/mapi/property.h"

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

namespace mbx::platform {
class File;
}

namespace mbx::msg {

// A failure to write a .msg file. `code()` holds the system's error when the file could not be
// created or written (a full device is std::errc::no_space_on_device), and is empty otherwise.
class MsgError : public std::runtime_error {
public:
    explicit MsgError(const std::string& what, std::error_code code = {})
        : std::runtime_error(what), code_(code) {}
    const std::error_code& code() const noexcept { return code_; }

private:
    std::error_code code_;
};

struct MsgResult {
    // What the file could not hold, one line each in words for the run's report (recipient rows
    // or attachments beyond the format's limit, in the message or in an attached mail); empty
    // when the message was written whole.
    std::vector<std::string> notes;
};

// Writes `message` to `path`, replacing any file there. Strings are stored as PT_UNICODE only
// (String8 values of the model are written as Unicode), empty strings are left out, and the
// file is marked as Unicode through PidTagStoreSupportMask. At most 2048 recipient rows and 2048
// attachments are written per message (the format's limit); the rest is named in the notes.
// Throws MsgError when the file cannot be written; no partial file is left behind then.
MsgResult writeMsg(const mapi::Message& message, const std::filesystem::path& path);
// The same, handing the complete file over open in `keep`, to be read back through it; whoever
// closes it hears of deferred write failures.
MsgResult writeMsg(const mapi::Message& message, const std::filesystem::path& path,
                   platform::File& keep);

// The same file, appended to `image` instead of written to disk.
MsgResult writeMsg(const mapi::Message& message, std::vector<std::uint8_t>& image);

} // namespace mbx::msg

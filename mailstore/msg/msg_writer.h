// Outlook message files (.msg): one MAPI message as an [MS-OXMSG] property tree inside an
// [MS-CFB] compound file.
#pragma once

#include "mailstore/mapi/property.h"

#include <filesystem>
#include <stdexcept>

namespace mbx::msg {

class MsgError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Writes `message` to `path`, replacing any file there. Strings are stored as PT_UNICODE only
// (String8 values of the model are written as Unicode), empty strings are left out, and the
// file is marked as Unicode through PidTagStoreSupportMask. At most 2048 recipient rows are
// written (the format's limit). Throws MsgError when the file cannot be written (or the message
// has more than 2048 attachments); no partial file is left behind then.
void writeMsg(const mapi::Message& message, const std::filesystem::path& path);

} // namespace mbx::msg

// Reads an Outlook message file back ([MS-OXMSG] over [MS-CFB]): the message's property stream
// and value streams, its recipient and attachment storages and attached messages, as a
// mapi::MessageView for fingerprints, with the values a print takes. Values stay as the file
// stores them.
#pragma once

#include "mailstore/mapi/fingerprint.h"

#include <filesystem>
#include <memory>

namespace mbx::platform {
class File;
}

namespace mbx::msg {

// Throws MsgError when the file cannot be read or is not a message file this program could
// have written.
std::unique_ptr<mapi::MessageView> readMsg(const std::filesystem::path& path);
// The same, read through a file still open (`path` names it in errors).
std::unique_ptr<mapi::MessageView> readMsg(const platform::File& file,
                                           const std::filesystem::path& path);

} // namespace mbx::msg

// Internet mail (RFC 822 / MIME) to the MAPI message model, mapped as [MS-OXCMAIL] maps a received
// mail: the result is an IPM.Note that any message-store writer can save as it stands.
#pragma once

#include "mailstore/mapi/property.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace mbx::mime {

// Thrown only when the input cannot be read at all (missing or unreadable file). Damaged mail is
// never an error: whatever can be read is kept and the rest goes into the plain-text body.
class ImportError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What the import may use besides the message's own bytes.
struct ImportOptions {
    // Where Eudora saved detached attachments and inline pictures (see eudora::findFolders); with
    // empty paths, attachment lines stay plain text.
    std::filesystem::path attachmentsFolder;
    std::filesystem::path embeddedFolder;
};

// Reads one message. A leading mailbox separator line ("From ???@??? ..." or any other
// "From " envelope line) is skipped: it is neither a header nor part of the body.
mapi::Message importRfc822(const std::filesystem::path& emlPath);
mapi::Message importRfc822(std::span<const std::byte> bytes);
// As above; attachment lines of the message's text are resolved through `options`, and each one
// whose file could not be taken is described in `notes` (the message is imported without it).
mapi::Message importRfc822(const std::filesystem::path& emlPath, const ImportOptions& options,
                           std::vector<std::string>& notes);
mapi::Message importRfc822(std::span<const std::byte> bytes, const ImportOptions& options,
                           std::vector<std::string>& notes);

// PidTagMessageFlags for a message that is about to be stored when the caller asks for
// `requested`: the read bit and other bits are kept, the has-attachments bit (0x10) is set exactly
// when the message has attachment rows, and the unsent bit (0x08) is always cleared so that the
// item opens as received mail rather than as a draft.
std::int32_t messageFlagsFor(const mapi::Message& message, std::int32_t requested);

} // namespace mbx::mime

// Internet mail (RFC 822 / MIME) to the MAPI message model, mapped as [MS-OXCMAIL] maps a received
// mail: the result is an IPM.Note that any message-store writer can save as it stands.
#pragma once

#include "mailstore/mapi/property.h"
#include "mailstore/mime/eudora_toc.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
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
    ImportOptions() = default;
    ImportOptions(std::vector<std::filesystem::path> attachments, std::filesystem::path embedded)
        : attachmentFolders(std::move(attachments)), embeddedFolder(std::move(embedded)) {}

    // Where Eudora saved detached attachments (searched in this order) and inline pictures (see
    // eudora::findFolders); without folders, attachment lines stay plain text.
    std::vector<std::filesystem::path> attachmentFolders;
    std::filesystem::path embeddedFolder;
    // What Eudora's table of contents says about the message (eudora::validate); without it the
    // message is stored as read, as every message without a table is.
    std::optional<eudora::MessageState> state;
    // The charset of text that names none (or wrongly names UTF-8): "windows-1252", or
    // "macintosh" for Mac mailboxes (eudora::isMacMailbox).
    std::string eightBitCharset = "windows-1252";
};

// What imports made one after another on one thread keep from one message to the next: GMime's
// parser, which costs more to build than a short message to parse. Used by one thread at a time.
class ImportSession {
public:
    ImportSession();
    ~ImportSession();
    ImportSession(const ImportSession&) = delete;
    ImportSession& operator=(const ImportSession&) = delete;

    struct State; // the GMime objects kept
    State& state() { return *state_; }

private:
    std::unique_ptr<State> state_;
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
// The same through `session`'s parser.
mapi::Message importRfc822(std::span<const std::byte> bytes, const ImportOptions& options,
                           std::vector<std::string>& notes, ImportSession& session);

// PidTagMessageFlags for a message that is about to be stored when the caller asks for
// `requested`: the read and unsent bits and the other bits are kept, and the has-attachments bit
// (0x10) is set exactly when the message has attachment rows. Received mail is requested without
// the unsent bit so that it opens as received mail rather than as a draft; only outgoing mail
// that Eudora's table of contents calls unsent asks for it (the import's own flags then).
std::int32_t messageFlagsFor(const mapi::Message& message, std::int32_t requested);

} // namespace mbx::mime

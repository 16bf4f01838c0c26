// Writes a new Unicode PST (Outlook data file) from scratch, streaming: message data goes to disk
// as each message is added; memory holds the node and block indexes and the folders' table rows.
// The header stays invalid (all zero) until close(), so an interrupted write leaves a file that
// readers refuse instead of one they misread.
#pragma once

#include "mailstore/mapi/property.h"
#include "mailstore/pst/ndb/bytes.h"
#include "mailstore/pst/ndb/layout.h"

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mbx::pst {

enum class Crypt { None, Permute };

struct WriterOptions {
    Crypt crypt = Crypt::None;
};

using FolderId = std::uint32_t; // the folder's NID

class PstWriter {
public:
    // Creates the file (truncating); it holds nothing valid until close().
    static std::unique_ptr<PstWriter> create(const std::filesystem::path& path,
                                             std::string displayName, WriterOptions options = {});
    // The same data file built in `image` (replacing its contents) instead of on disk; nothing
    // is synced. For the fuzzing harness and tests.
    static std::unique_ptr<PstWriter> createInMemory(std::vector<std::uint8_t>& image,
                                                     std::string displayName,
                                                     WriterOptions options = {});
    ~PstWriter();
    PstWriter(const PstWriter&) = delete;
    PstWriter& operator=(const PstWriter&) = delete;

    // "Top of Personal Folders", the top of the folder tree the user sees.
    FolderId ipmSubtree() const;
    // A mail folder (container class IPF.Note) under `parent`.
    FolderId addFolder(FolderId parent, std::string name);
    // "\\" + display name + "\" + folder name, nested names separated by "\".
    std::optional<FolderId> findFolder(std::string_view path) const;
    // Writes the message with its recipients and attachments now; returns its node id.
    std::uint32_t addMessage(FolderId folder, const mapi::Message& message);
    // Writes folders, tables, indexes and maps, syncs, then the header. Idempotent.
    // `whileDataSyncs`: see NdbWriter::finish (a read-back of the file, the header given to it).
    void close(const std::function<void(ByteView header)>& whileDataSyncs = {});

    std::uint64_t messageCount() const { return messages_; }

private:
    struct Impl;
    explicit PstWriter(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
    std::uint64_t messages_ = 0;
};

} // namespace mbx::pst

// Reads the folders and messages back from a data file: the folder tree under "Top of Personal
// Folders" (folder property contexts and hierarchy tables), each folder's contents table, and
// each message's property context, recipient table, attachment table and attachments, attached
// messages included. A message is handed out as a mapi::MessageView for fingerprints: the
// digests of the values a print takes, each read from the file a block at a time.
#pragma once

#include "mailstore/mapi/fingerprint.h"
#include "mailstore/pst/ndb/reader.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace mbx::pst {

struct StoredFolder {
    Nid nid = 0;
    // The folder's display names from below the top of the tree, joined by "\".
    std::string path;
    std::uint32_t contentCount = 0; // PidTagContentCount as stored
    std::vector<Nid> messages;      // contents table rows, in the order they were stored
};

class StoreReader {
public:
    // Throws PstError when the file is not a data file whose indexes can be read.
    explicit StoreReader(const std::filesystem::path& path);
    // Reads through `ndb`, which must outlive the reader.
    explicit StoreReader(const NdbReader& ndb) : ndb_(ndb) {}

    // Every folder below the top of the tree, parents before their children. Throws PstError
    // when a folder's own objects cannot be read.
    std::vector<StoredFolder> folders() const;
    // Whether the node index holds node `nid`.
    bool contains(Nid nid) const { return ndb_.nodes().count(nid) > 0; }
    // The message node `nid`, with the values a print takes. Throws PstError when it is missing
    // or cannot be read.
    std::unique_ptr<mapi::MessageView> message(Nid nid) const;

private:
    std::unique_ptr<NdbReader> own_;
    const NdbReader& ndb_; // own_ or the caller's
};

} // namespace mbx::pst

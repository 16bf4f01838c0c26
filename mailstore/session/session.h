// The calls the conversion run makes on a mail store, as a small object model: a session holds
// data files (stores); a store has a folder tree; a folder has items; an item is filled from an
// Internet mail file and saved into its store or out as an Outlook message file.
//
// Every failure is a SessionError; the caller decides which ones matter.
#pragma once

#include "mailstore/mapi/property.h"

#include <cstdint>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>

namespace mbx::pst {
class PstWriter;
}

namespace mbx::session {

class SessionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Numeric arguments of the calls.
inline constexpr int kStoreFormatDefault = 1; // AddPSTStore: the default data-file format
inline constexpr int kFolderKindMail = 6;     // Folders.Add: a mail folder
inline constexpr int kItemKindMail = 0;       // Items.Add: a mail message
inline constexpr int kImportRfc822 = 1024;    // Import: an RFC 822 (.eml) file
inline constexpr int kSaveAsMsg = 3;          // SaveAs: an Outlook message file
inline constexpr std::uint32_t kPrMessageFlags = 0x0E070003;

class RDOStore;
class RDOFolder;
class RDOMail;

struct StoreData; // a data file being written and its folders (session.cpp)

class RDOFolder {
public:
    class FoldersList {
    public:
        // A new folder of `kind` under this one. A name already used under it is refused.
        RDOFolder Add(const std::string& name, int kind);

    private:
        friend class RDOFolder;
        FoldersList(std::shared_ptr<StoreData> store, std::uint32_t parent)
            : store_(std::move(store)), parent_(parent) {}
        std::shared_ptr<StoreData> store_;
        std::uint32_t parent_;
    };
    class ItemsList {
    public:
        // A new, empty item in the folder; it is written only when saved.
        std::unique_ptr<RDOMail> Add(int kind);

    private:
        friend class RDOFolder;
        ItemsList(std::shared_ptr<StoreData> store, std::uint32_t folder)
            : store_(std::move(store)), folder_(folder) {}
        std::shared_ptr<StoreData> store_;
        std::uint32_t folder_;
    };

    FoldersList Folders() const { return {store_, id_}; }
    ItemsList Items() const { return {store_, id_}; }
    std::uint32_t id() const { return id_; }

private:
    friend class RDOStore;
    friend class RDOSession;
    friend class FoldersList;
    RDOFolder(std::shared_ptr<StoreData> store, std::uint32_t id)
        : store_(std::move(store)), id_(id) {}
    std::shared_ptr<StoreData> store_;
    std::uint32_t id_;
};

// The MAPI object under an item: its property bag, as the utility object sets properties on it.
class MapiObject {
public:
    virtual ~MapiObject() = default;
    virtual void SetOneProp(std::uint32_t tag, std::int32_t value) = 0;
    virtual void SaveChanges() = 0;
};

class RDOMail : private MapiObject {
public:
    // Fills the item from the file; `format` must be kImportRfc822.
    void Import(const std::string& path, int format);
    MapiObject& MAPIOBJECT() { return *this; }
    // Stores the item in its folder's data file. Saving an unchanged, already saved item does
    // nothing.
    void Save();
    // Writes the item as an Outlook message file; `format` must be kSaveAsMsg.
    void SaveAs(const std::string& path, int format);

    const mapi::Message& message() const { return message_; }

private:
    friend class RDOFolder::ItemsList;
    RDOMail(std::shared_ptr<StoreData> store, std::uint32_t folder)
        : store_(std::move(store)), folder_(folder) {}
    void SetOneProp(std::uint32_t tag, std::int32_t value) override;
    void SaveChanges() override { Save(); }

    std::shared_ptr<StoreData> store_;
    std::uint32_t folder_;
    mapi::Message message_;
    bool dirty_ = true;
};

class RDOStore {
public:
    // The top of the folder tree the user sees.
    RDOFolder IPMRootFolder() const;
    // Takes the data file out of its session; the file on disk is complete afterwards.
    void Remove();
    const std::string& displayName() const;

private:
    friend class RDOSession;
    explicit RDOStore(std::shared_ptr<StoreData> data) : data_(std::move(data)) {}
    std::shared_ptr<StoreData> data_;
};

class RDOSession {
public:
    class StoresList {
    public:
        // Creates the data file at `path` and adds it to the session under `displayName`.
        RDOStore AddPSTStore(const std::string& path, int format, const std::string& displayName);

    private:
        friend class RDOSession;
        explicit StoresList(RDOSession& session) : session_(session) {}
        RDOSession& session_;
    };

    RDOSession();
    ~RDOSession(); // completes every data file still in the session
    RDOSession(const RDOSession&) = delete;
    RDOSession& operator=(const RDOSession&) = delete;

    void Logon();
    StoresList Stores();
    // "\\" + store display name + "\" + folder name (nested names separated by "\").
    RDOFolder GetFolderFromPath(const std::string& path);
    void Logoff();

private:
    void requireLogon() const;
    bool loggedOn_ = false;
    std::map<std::string, std::shared_ptr<StoreData>> stores_; // by display name
};

// The utility object: sets one property on an item's MAPI object, saving it when asked.
class MAPIUtils {
public:
    void HrSetOneProp(MapiObject& object, std::uint32_t tag, std::int32_t value, bool save);
};

} // namespace mbx::session

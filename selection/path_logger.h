// PathLogger walks a folder tree breadth first and logs every file it meets into keyed, ordered
// lists. One object serves one walk: init(), optionally fullFileNamesOnly(false),
// logPath(), read the lists, terminate().
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <system_error>
#include <unordered_set>
#include <vector>

namespace mbx::selection {

// An ordered list whose entries also carry a key unique within the list (positions count from 1).
template <typename T> class KeyedList {
public:
    void add(const T& value, const std::string& key) {
        if (!keys_.insert(key).second) {
            throw std::invalid_argument("This key is already associated with an element of this "
                                        "collection: " +
                                        key);
        }
        items_.push_back(value);
    }
    std::size_t count() const { return items_.size(); }
    const T& item(std::size_t position) const { return items_.at(position - 1); }
    const std::vector<T>& items() const { return items_; }

private:
    std::vector<T> items_;
    std::unordered_set<std::string> keys_;
};

class PathLogger {
public:
    using TextList = KeyedList<std::string>;
    using NumberList = KeyedList<std::int32_t>;

    void init();
    void logPath(const std::string& folder);
    void terminate();

    std::int32_t count() const { return count_; }
    // What the walk could not read, with the system's reason: folders (their files and
    // sub-folders are missing from the lists) and entries it could not tell file from folder.
    struct UnreadableFolder {
        std::string path;
        std::error_code error;
    };
    const std::vector<UnreadableFolder>& unreadable() const { return unreadable_; }
    bool fullFileNamesOnly() const { return fullFileNamesOnly_; }
    void fullFileNamesOnly(bool value) { fullFileNamesOnly_ = value; }

    // Each list comes into being on first read and is shared, not copied: a caller may keep it
    // after terminate() or after the object is gone.
    std::shared_ptr<TextList> fileNames();
    std::shared_ptr<NumberList> pathPointers();
    std::shared_ptr<TextList> pathNames();
    std::shared_ptr<TextList> fullFileNames();

private:
    bool initialised_ = false;
    std::int32_t count_ = 0;
    bool fullFileNamesOnly_ = false;
    std::shared_ptr<TextList> fileNames_;
    std::shared_ptr<NumberList> pathPointers_;
    std::shared_ptr<TextList> pathNames_;
    std::shared_ptr<TextList> fullFileNames_;
    std::vector<UnreadableFolder> unreadable_;
};

} // namespace mbx::selection

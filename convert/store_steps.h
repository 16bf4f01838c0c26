// The .pst and .msg targets: each message's .eml file is imported into a data file through the
// mail-store session and, for .msg, saved out as an Outlook message file.
#pragma once

#include "convert/conversion_run.h"

#include <memory>
#include <string>

namespace mbx::session {
class RDOSession;
class RDOStore;
} // namespace mbx::session

namespace mbx::convert {

class MailStoreSteps : public StoreSteps {
public:
    explicit MailStoreSteps(Format format);
    ~MailStoreSteps() override;

    bool OpenRunStore(const std::string& outputRoot) override;
    bool OpenMailboxStore(const std::string& outputRoot, const std::string& mailboxName) override;
    void AddMailboxFolder(const std::string& mailboxName) override;
    void ImportMessage(const std::string& emlPath, const std::string& mailboxFolder,
                       std::uint64_t k) override;
    void CloseStore() override;

    // "d.m.YY H.m.ss" of the local time now: 6.12.26 6.20.11.
    static std::string TimeStamp();
    // `path` + ".pst", or `path` + " (2).pst", " (3).pst" ... when that file exists already:
    // our library writes new data files only and never replaces a file.
    static std::string FreeDataFilePath(const std::string& pathWithoutExtension);

private:
    bool Open(const std::string& path, const std::string& displayName);

    Format format_;
    std::unique_ptr<session::RDOSession> session_;
    std::unique_ptr<session::RDOStore> store_;
    std::string displayName_;
    std::string folderName_;
};

} // namespace mbx::convert

// The .pst and .msg targets on our mail-store library: MIME import, then the PST writer (one
// data file per mailbox for .pst; the run's "Temp" data file for .msg) and, for .msg, one
// Outlook message file per message ("Email-" + k + ".msg" in the mailbox folder).
#pragma once

#include "convert/engine.h"
#include "convert/targets.h"
#include "mailstore/mime/import.h"

#include <map>
#include <memory>
#include <string>

namespace mbx::pst {
class PstWriter;
}

namespace mbx::convert {

class MailStoreTarget : public StoreTarget {
public:
    explicit MailStoreTarget(Format format);
    ~MailStoreTarget() override;

    void openRunStore(const std::string& outputRoot) override;
    void openMailboxStore(const std::string& outputRoot, const std::string& mailboxName) override;
    void addMailboxFolder(const std::string& mailboxName) override;
    // Finds the mailbox's attachments and Embedded folders (see mime::eudora::findFolders).
    std::shared_ptr<const MailboxPlan> planMailbox(const MailboxContext& mailbox) const override;
    std::unique_ptr<PreparedMessage> prepare(const MessageJob& job) const override;
    void commit(PreparedMessage& message) override;
    void closeStore() override;
    std::error_code discardStore() override;
    std::string storePath() const override { return path_; }

    // "d.m.YY H.m.ss" of the local time now: 6.12.26 6.20.11.
    static std::string timeStamp();
    // `path` + ".pst", or `path` + " (2).pst", " (3).pst" ... when that file exists already:
    // an existing data file is never replaced.
    static std::string freeDataFilePath(const std::string& pathWithoutExtension);

private:
    void open(const std::string& path, const std::string& displayName);

    Format format_;
    std::unique_ptr<pst::PstWriter> writer_;
    std::string path_;
    // The mailbox folders of the open data file by name: a second mailbox of the same name
    // shares the first one's folder.
    std::map<std::string, std::uint32_t> folders_;
    std::uint32_t folder_ = 0;
};

// The target for a format: a MailStoreTarget for .pst and .msg, nothing for the others.
std::unique_ptr<StoreTarget> makeStoreTarget(Format format);

} // namespace mbx::convert

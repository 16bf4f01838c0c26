// The .pst and .msg targets on our mail-store library: MIME import, then the PST writer (one
// data file per mailbox for .pst; the run's "Temp" data file for .msg) and, for .msg, one
// Outlook message file per message ("Email-" + k + ".msg" in the mailbox folder). The factory
// for every format is here too.
#pragma once

#include "convert/engine.h"
#include "convert/targets.h"
#include "convert/verify.h"
#include "mailstore/mime/import.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace mbx::pst {
class PstWriter;
}
namespace mbx::mapi {
struct Message;
}

namespace mbx::convert {

// What the .pst and .msg targets share: the MIME import of each message (planMailbox, prepare)
// and one open data file of our PST writer, which takes each mailbox's messages in a folder named
// after the mailbox.
class MailStoreTarget : public StoreTarget {
public:
    ~MailStoreTarget() override;

    Flow flow() const override { return Flow::Prepare; }
    // Finds the mailbox's attachments and Embedded folders (see mime::eudora::findFolders).
    std::shared_ptr<const MailboxPlan> planMailbox(const MailboxContext& mailbox) const override;
    std::unique_ptr<PreparedMessage> prepare(const MessageJob& job) const override;
    void endRun(FaultHooks* faults) override;
    Discarded discardStore() override;
    bool setVerification(bool on, FaultHooks* faults) override;
    Verification takeVerification() override { return verifier_.take(); }

    // "d.m.YY H.m.ss" of the local time now: 6.12.26 6.20.11.
    static std::string timeStamp();
    // `path` + ".pst", or `path` + " (2).pst", " (3).pst" ... when that file exists already:
    // an existing data file is never replaced.
    static std::string freeDataFilePath(const std::string& pathWithoutExtension);

protected:
    // The message file of a prepared message, when the target writes one (.msg).
    virtual void writeMessageFile(const MessageJob& /*job*/, mapi::Message& /*message*/,
                                  std::vector<std::string>& /*notes*/) const {}
    // Creates the data file `path`. Throws TargetError.
    void open(const std::string& path, const std::string& displayName);
    // Selects (and if needed adds) the mailbox's folder in the open data file: `path` names it
    // from the top, each folder under the one before. Throws TargetError.
    void enterMailboxFolder(const std::vector<std::string>& path);
    // Stores the message in the open data file. Throws TargetError.
    void store(PreparedMessage& message);
    // Completes the open data file, if any. Throws TargetError.
    void close(FaultHooks* faults);
    bool isOpen() const { return writer_ != nullptr; }
    // Messages stored in the open data file.
    std::uint64_t stored() const { return stored_; }

    // Whether each data file is read back once it is complete and its messages compared with
    // the import; not where the messages are verified in files of their own instead.
    virtual bool checksDataFile() const { return true; }
    mutable Verifier verifier_;

private:
    // The import sessions of the worker threads, each taken by one message at a time.
    class Sessions {
    public:
        std::unique_ptr<mime::ImportSession> take();
        void giveBack(std::unique_ptr<mime::ImportSession> session);

    private:
        std::mutex mutex_;
        std::vector<std::unique_ptr<mime::ImportSession>> idle_;
    };
    mutable Sessions sessions_;

    std::unique_ptr<pst::PstWriter> writer_;
    std::string path_;
    // The folders of the open data file by their path of names: a second mailbox of the same
    // place shares the first one's folder.
    std::map<std::vector<std::string>, std::uint32_t> folders_;
    std::uint32_t folder_ = 0;
    std::uint64_t stored_ = 0;
};

// .pst: one data file per mailbox, named after it in the output folder, opened when the mailbox
// has been read; its messages count when stored and are lost with it.
class PstTarget : public MailStoreTarget {
public:
    bool needsMailboxFolder() const override { return false; }
    void beginMailbox(const std::string& outputRoot, const MailboxPlace& place) override;
    bool acceptsMessages() const override { return isOpen(); }
    bool commit(PreparedMessage& message) override;
    void endMailbox(FaultHooks* faults) override { close(faults); }
    Discarded discardStore() override;
};

// .pst for a whole folder tree: one data file for the run, created at its start and completed at
// its end, holding a folder per mailbox at the mailbox's place (MailboxPlace), the folders above
// it made as they are first needed. Messages count when stored; when the data file fails, it is
// lost with every message of the run, and the mailboxes after it are not converted.
class SingleFilePstTarget : public MailStoreTarget {
public:
    // `path`: the data file; `displayName`: the name Outlook shows for it.
    SingleFilePstTarget(std::string path, std::string displayName);

    bool needsMailboxFolder() const override { return false; }
    bool makesMailboxFolder() const override { return false; }
    void beginRun(const std::string& outputRoot) override;
    void beginMailbox(const std::string& outputRoot, const MailboxPlace& place) override;
    bool acceptsMessages() const override { return isOpen(); }
    bool commit(PreparedMessage& message) override;
    Discarded discardStore() override;

private:
    std::string path_;
    std::string displayName_;
};

// .msg: one message file per message ("Email-" + k + ".msg" in the mailbox folder), written
// when the message is prepared, and the run's "Temp" data file holding the same messages. A
// message counts once its message file is complete; the data file is not needed for that.
class MsgTarget : public MailStoreTarget {
public:
    void beginRun(const std::string& outputRoot) override;
    void beginMailbox(const std::string& outputRoot, const MailboxPlace& place) override;
    bool commit(PreparedMessage& message) override;
    bool abandon(PreparedMessage& /*message*/) override { return true; }
    // The message files still waiting to be read back are read back here.
    void endMailbox(FaultHooks* faults) override;
    void endRun(FaultHooks* faults) override;

protected:
    void writeMessageFile(const MessageJob& job, mapi::Message& message,
                          std::vector<std::string>& notes) const override;
    bool checksDataFile() const override { return false; } // each message file is read back
};

// The target for a format: every format has one (null for Format::None).
std::unique_ptr<StoreTarget> makeStoreTarget(Format format);

} // namespace mbx::convert

// The .eml and .emlx targets: one file per message in the mailbox folder, streamed from the
// mailbox ("email-" + k + extension). A message counts as written once its file is complete; it
// is verified when the file, read back, holds the bytes that were taken from the mailbox for it
// (size and digest).
#include "convert/engine.h"
#include "convert/faults.h"
#include "convert/targets.h"
#include "mailstore/mapi/digest.h"
#include "platform/file.h"

#include <fstream>
#include <string_view>

namespace mbx::convert {

namespace {

class MessageFileTarget : public StoreTarget {
public:
    explicit MessageFileTarget(std::string_view extension) : extension_(extension) {}

    Flow flow() const override { return Flow::Stream; }
    bool setVerification(bool on, FaultHooks* faults) override {
        verify_ = on;
        faults_ = faults;
        return on;
    }
    Verification takeVerification() override {
        Verification out;
        std::swap(out, result_);
        return out;
    }
    WriteResult writeMessage(const std::string& mailboxFolder, std::size_t k, MessageText& text,
                             FaultHooks* faults) override {
        auto written = writeMessageFile(mailboxFolder, k, extension_, text, faults);
        if (verify_ && written.status == WriteResult::Status::Written) {
            readBack(messageFilePath(mailboxFolder, k, extension_), k, text.beginOffset(), written);
        }
        return written;
    }

private:
    void readBack(const std::string& path, std::size_t k, std::uint64_t offset,
                  const WriteResult& written) {
        if (faults_ != nullptr) {
            faults_->beforeReadBack(path);
        }
        std::ifstream in(platform::pathFromUtf8(path), std::ios::binary);
        mapi::Digest digest;
        std::uint64_t size = 0;
        std::vector<char> buffer(64 * 1024);
        while (in) {
            in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
            const auto n = static_cast<std::size_t>(in.gcount());
            digest.add(std::string_view(buffer.data(), n));
            size += n;
        }
        std::string differs;
        if (in.bad() || !in.eof()) {
            differs = "it cannot be read";
        } else if (size != written.size) {
            differs =
                std::to_string(written.size) + " bytes written, " + std::to_string(size) + " found";
        } else if (digest.value() != written.digest) {
            differs = "its bytes differ from the mailbox's";
        }
        if (differs.empty()) {
            ++result_.verified[{}];
        } else {
            result_.mismatches.push_back(
                {{}, k, offset, "the message file " + path + " read back: " + differs});
        }
    }

    std::string_view extension_;
    bool verify_ = false;
    FaultHooks* faults_ = nullptr;
    Verification result_;
};

} // namespace

std::unique_ptr<StoreTarget> makeMessageFileTarget(Format format) {
    switch (format) {
    case Format::Eml:
        return std::make_unique<MessageFileTarget>(".eml");
    case Format::Emlx:
        return std::make_unique<MessageFileTarget>(".emlx");
    case Format::None:
    case Format::Pst:
    case Format::Msg:
        break;
    }
    return nullptr;
}

} // namespace mbx::convert

// The .eml and .emlx targets: one file per message in the mailbox folder, streamed from the
// mailbox ("email-" + k + extension). A message counts as written once its file is complete.
#include "convert/engine.h"
#include "convert/targets.h"

#include <string_view>

namespace mbx::convert {

namespace {

class MessageFileTarget : public StoreTarget {
public:
    explicit MessageFileTarget(std::string_view extension) : extension_(extension) {}

    Flow flow() const override { return Flow::Stream; }
    WriteResult writeMessage(const std::string& mailboxFolder, std::size_t k, MessageText& text,
                             FaultHooks* faults) override {
        return writeMessageFile(mailboxFolder, k, extension_, text, faults);
    }

private:
    std::string_view extension_;
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

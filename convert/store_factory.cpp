#include "convert/store_factory.h"

#include "convert/store_steps.h"

namespace mbx::convert {

std::unique_ptr<StoreSteps> MakeStoreSteps(Format format) {
    if (format == Format::Pst || format == Format::Msg) {
        return std::make_unique<MailStoreSteps>(format);
    }
    return nullptr;
}

} // namespace mbx::convert

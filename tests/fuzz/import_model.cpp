// The import's model on any input keeps the rules of model_rules.h.
#include "harness.h"
#include "mailstore/mime/import.h"
#include "model_rules.h"

#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    mbx::testing::checkModel(mbx::mime::importRfc822(std::as_bytes(std::span(data, size))),
                             mbx::fuzz::check);
    return 0;
}

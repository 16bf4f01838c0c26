#include "convert/store_factory.h"

namespace mbx::convert {

// The mail-store steps are not linked into the engine yet; the run reports the session error
// for .pst and .msg until they are.
std::unique_ptr<StoreSteps> MakeStoreSteps(Format /*format*/) {
    return nullptr;
}

} // namespace mbx::convert

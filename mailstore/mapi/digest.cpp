#include "mailstore/mapi/digest.h"

#include "mailstore/mapi/byte_order.h"

#include <new>
#ifdef MBX_XXHASH_DISPATCH
// The library's functions, the long inputs hashed with the widest vectors the processor has.
#define XXH_STATIC_LINKING_ONLY
#include <xxh_x86dispatch.h>
#include <xxhash.h>
#else
#define XXH_INLINE_ALL
#include <xxhash.h>
#endif

namespace mbx::mapi {

namespace {

XXH3_state_t* stateOf(std::byte* storage) {
    return std::launder(reinterpret_cast<XXH3_state_t*>(storage));
}
const XXH3_state_t* stateOf(const std::byte* storage) {
    return std::launder(reinterpret_cast<const XXH3_state_t*>(storage));
}

} // namespace

Digest::Digest() {
    static_assert(sizeof(XXH3_state_t) <= kStateSize && alignof(XXH3_state_t) <= 64);
    ::new (static_cast<void*>(state_)) XXH3_state_t;
    XXH3_INITSTATE(stateOf(state_));
    XXH3_64bits_reset(stateOf(state_));
}

Digest::Digest(const Digest& other) {
    ::new (static_cast<void*>(state_)) XXH3_state_t;
    XXH3_copyState(stateOf(state_), stateOf(other.state_));
}

Digest& Digest::operator=(const Digest& other) {
    XXH3_copyState(stateOf(state_), stateOf(other.state_));
    return *this;
}

Digest& Digest::add(std::span<const std::uint8_t> bytes) {
    if (!bytes.empty()) {
        XXH3_64bits_update(stateOf(state_), bytes.data(), bytes.size());
    }
    return *this;
}

Digest& Digest::add(std::uint64_t number) {
    std::uint8_t bytes[8];
    writeLe64(bytes, number);
    return add(std::span<const std::uint8_t>(bytes));
}

std::uint64_t Digest::value() const {
    return XXH3_64bits_digest(stateOf(state_));
}

std::uint64_t Digest::of(std::span<const std::uint8_t> bytes) {
    return XXH3_64bits(bytes.data(), bytes.size());
}

} // namespace mbx::mapi

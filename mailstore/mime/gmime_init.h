// GMime must be initialised once per process before any of its functions run; every entry
// point of this library calls this first (thread-safe, no work after the first call).
#pragma once

#include <gmime/gmime.h>
#include <mutex>

namespace mbx::mime::detail {

inline void ensureGMime() {
    static std::once_flag once;
    std::call_once(once, [] { g_mime_init(); });
}

} // namespace mbx::mime::detail

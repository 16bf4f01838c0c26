// Test seam: failures injected at the points where real ones happen (RunOptions::faults).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace mbx::convert {

struct MessageJob;

class FaultHooks {
public:
    virtual ~FaultHooks() = default;
    // Before `count` bytes go to the message file `path` at `offset`: an errno value fails the
    // write with that error, 0 lets it through.
    virtual int beforeWrite(const std::string& /*path*/, std::uint64_t /*offset*/,
                            std::size_t /*count*/) {
        return 0;
    }
    // Before a message is parsed, on a worker thread; may throw.
    virtual void beforeImport(const MessageJob& /*job*/) {}
    // Before the open data file is completed; may throw.
    virtual void beforeStoreClose(const std::string& /*path*/) {}
    // After a message file is complete, or a data file but for its header (written once the rest
    // is on the device), before it is read back to verify it.
    virtual void beforeReadBack(const std::string& /*path*/) {}
    // After a data file has been read back, while its data are synced, before its header is
    // written; may throw (as a failed sync would).
    virtual void afterReadBack(const std::string& /*path*/) {}
    // Before the message files written under `outputRoot` are flushed to the disk at the end of
    // a run: an errno value fails the flush with that error, 0 lets it through.
    virtual int beforeFlush(const std::string& /*outputRoot*/) { return 0; }
};

} // namespace mbx::convert

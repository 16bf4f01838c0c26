// What mbxvane-convert prints while it works. On a terminal: one line rewritten in place (mailbox
// k of n, bytes, messages, rate, time left), at most every kRedrawInterval. Elsewhere (a pipe, a
// log file): one line per finished mailbox. Quiet: nothing.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

namespace mbx::cli {

class ProgressPrinter {
public:
    using Clock = std::chrono::steady_clock;
    enum class Mode { Terminal, Lines, Quiet };
    static constexpr std::chrono::milliseconds kRedrawInterval{200};

    ProgressPrinter(std::ostream& out, Mode mode,
                    std::function<Clock::time_point()> now = Clock::now);

    void begin(std::size_t mailboxCount, std::uint64_t totalBytes);
    // `index` counts from 0.
    void mailboxStarted(std::size_t index, const std::string& path, std::uint64_t bytes);
    // Bytes of the current mailbox dealt with and its messages written so far.
    void advanced(std::uint64_t bytesDone, std::uint64_t messagesDone);
    void mailboxFinished(std::uint64_t messagesWritten, std::uint64_t messagesFailed);
    // Ends the in-place line, so that later output starts on a line of its own.
    void end();

    double elapsedSeconds() const;

private:
    void draw(bool force);

    std::ostream& out_;
    Mode mode_;
    std::function<Clock::time_point()> now_;
    Clock::time_point started_{};
    Clock::time_point lastDraw_{};
    bool drawn_ = false;
    std::size_t lineLength_ = 0;
    std::size_t mailboxCount_ = 0;
    std::uint64_t totalBytes_ = 0;
    std::size_t index_ = 0;
    std::string path_;
    std::uint64_t mailboxBytes_ = 0;
    std::uint64_t bytesBefore_ = 0; // bytes of the mailboxes finished
    std::uint64_t bytesDone_ = 0;   // of the current mailbox
    std::uint64_t messagesBefore_ = 0;
    std::uint64_t messagesDone_ = 0; // of the current mailbox
};

// "1 message", "2 messages".
std::string countOf(std::uint64_t n, const char* singular, const char* plural);
// "12.3 MiB", "512 KiB", "80 B".
std::string formatBytes(std::uint64_t bytes);
// "0:07", "12:45", "3:02:10".
std::string formatDuration(double seconds);

} // namespace mbx::cli

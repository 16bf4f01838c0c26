#include "cli/progress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>

namespace mbx::cli {

namespace {

constexpr std::size_t kNameWidth = 28;

// The file name, shortened from the left to fit the line.
std::string shortName(const std::string& path) {
    const auto slash = path.find_last_of("/\\");
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.size() > kNameWidth) {
        name = "..." + name.substr(name.size() - (kNameWidth - 3));
    }
    return name;
}

} // namespace

std::string countOf(std::uint64_t n, const char* singular, const char* plural) {
    return std::to_string(n) + " " + (n == 1 ? singular : plural);
}

std::string formatBytes(std::uint64_t bytes) {
    static constexpr const char* kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    double value = static_cast<double>(bytes);
    std::size_t unit = 0;
    while (value >= 1024.0 && unit + 1 < std::size(kUnits)) {
        value /= 1024.0;
        ++unit;
    }
    char text[32];
    if (unit == 0) {
        std::snprintf(text, sizeof text, "%llu B", static_cast<unsigned long long>(bytes));
    } else {
        std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
    }
    return text;
}

std::string formatDuration(double seconds) {
    const auto total = static_cast<long long>(std::llround(std::max(0.0, seconds)));
    char text[32];
    if (total >= 3600) {
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", total / 3600, total / 60 % 60,
                      total % 60);
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld", total / 60, total % 60);
    }
    return text;
}

ProgressPrinter::ProgressPrinter(std::ostream& out, Mode mode,
                                 std::function<Clock::time_point()> now)
    : out_(out), mode_(mode), now_(std::move(now)) {}

void ProgressPrinter::begin(std::size_t mailboxCount, std::uint64_t totalBytes) {
    mailboxCount_ = mailboxCount;
    totalBytes_ = totalBytes;
    started_ = now_();
}

void ProgressPrinter::mailboxStarted(std::size_t index, const std::string& path,
                                     std::uint64_t bytes) {
    index_ = index;
    path_ = path;
    mailboxBytes_ = bytes;
    bytesDone_ = 0;
    messagesDone_ = 0;
    draw(false);
}

void ProgressPrinter::advanced(std::uint64_t bytesDone, std::uint64_t messagesDone) {
    bytesDone_ = std::min(bytesDone, mailboxBytes_);
    messagesDone_ = messagesDone;
    draw(false);
}

void ProgressPrinter::mailboxFinished(std::uint64_t messagesWritten, std::uint64_t messagesFailed) {
    bytesDone_ = mailboxBytes_;
    messagesDone_ = messagesWritten;
    if (mode_ == Mode::Lines) {
        out_ << "Mailbox " << index_ + 1 << " of " << mailboxCount_ << ": " << path_ << ": "
             << countOf(messagesWritten, "message", "messages") << " written";
        if (messagesFailed > 0) {
            out_ << ", " << messagesFailed << " failed";
        }
        out_ << std::endl;
    } else {
        // The last mailbox's final figures always show.
        draw(index_ + 1 == mailboxCount_);
    }
    bytesBefore_ += mailboxBytes_;
    messagesBefore_ += messagesWritten;
    bytesDone_ = 0;
    messagesDone_ = 0;
}

void ProgressPrinter::end() {
    if (mode_ == Mode::Terminal && drawn_) {
        out_ << '\n' << std::flush;
        drawn_ = false;
        lineLength_ = 0;
    }
}

double ProgressPrinter::elapsedSeconds() const {
    return std::chrono::duration<double>(now_() - started_).count();
}

void ProgressPrinter::draw(bool force) {
    if (mode_ != Mode::Terminal) {
        return;
    }
    const auto now = now_();
    if (!force && drawn_ && now - lastDraw_ < kRedrawInterval) {
        return;
    }
    lastDraw_ = now;

    const auto done = bytesBefore_ + bytesDone_;
    const double seconds = std::chrono::duration<double>(now - started_).count();
    std::string line = "Mailbox " + std::to_string(index_ + 1) + " of " +
                       std::to_string(mailboxCount_) + " " + shortName(path_) + "  " +
                       formatBytes(done) + " of " + formatBytes(totalBytes_) + "  " +
                       countOf(messagesBefore_ + messagesDone_, "message", "messages");
    // A rate over less than a second says little.
    if (seconds >= 1.0 && done > 0) {
        const double rate = static_cast<double>(done) / seconds;
        line +=
            "  " + formatBytes(static_cast<std::uint64_t>(rate)) + "/s  " +
            formatDuration(static_cast<double>(totalBytes_ - std::min(done, totalBytes_)) / rate) +
            " left";
    }
    const auto length = line.size();
    if (length < lineLength_) {
        line.append(lineLength_ - length, ' ');
    }
    lineLength_ = length;
    out_ << '\r' << line << std::flush;
    drawn_ = true;
}

} // namespace mbx::cli

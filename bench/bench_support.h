// What the benchmark modules share: child processes with their wall time and peak memory, the
// generated mailbox, and small number helpers.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace mbx::bench {

using Clock = std::chrono::steady_clock;

// A number from the environment (the options of main() arrive this way), or `fallback`.
std::uint64_t envNumber(const char* name, std::uint64_t fallback);
double median(std::vector<double> v);
std::string formatFixed(double v, int digits = 3);

struct ChildResult {
    double seconds = 0;
    double cpuSeconds = 0; // user + system time of the child
    long maxRssKiB = 0;
    int status = -1;
};

// Runs a program with stdout sent to `stdoutPath` (or /dev/null) and stderr to /dev/null; wall
// time and peak resident memory of the child.
ChildResult runChild(const std::vector<std::string>& argv, const std::string& stdoutPath = "");

// A mailbox that looks like real mail: CRLF lines, headers, wrapped text, most messages a few
// KiB, a few large ones up to 2 MiB. Separators only at line starts. Returns its size in bytes.
std::uint64_t generateMailbox(const std::filesystem::path& path, std::uint64_t messages);

// Regular files below `dir`, at any depth.
std::size_t countFiles(const std::filesystem::path& dir);

} // namespace mbx::bench

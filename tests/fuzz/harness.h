// The entry point every harness defines: libFuzzer calls it in the fuzzing build, and the replay
// program calls it for each stored input in the test build. A fault aborts (sanitizer report,
// uncaught exception or an explicit check); returning means the input passed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace mbx::fuzz {

[[noreturn]] inline void fail(const std::string& what) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what.c_str());
    std::abort();
}

inline void check(bool ok, const std::string& what) {
    if (!ok) {
        fail(what);
    }
}

// A folder of the process's own for the files a harness writes, removed at exit.
inline const std::filesystem::path& scratchDir() {
    static const struct Dir {
        std::filesystem::path path;
        Dir() {
            path = std::filesystem::temp_directory_path() /
                   ("mbx-fuzz-" + std::to_string(std::random_device{}()));
            std::filesystem::create_directories(path);
        }
        ~Dir() {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    } dir;
    return dir.path;
}

} // namespace mbx::fuzz

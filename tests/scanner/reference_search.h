// The separator search as it has always been described, one byte at a time: the reference the
// block scan is compared with (random tests and fuzz harness), and random files to compare on.
#pragma once

#include "scanner/separator_search.h"

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace mbx::scanner {

struct Reference {
    std::vector<std::uint64_t> offsets;
    std::vector<int> progress;
};

// Reads one byte per step from ReadPos and restarts after the byte that failed, exactly as the
// search has always been described; matches restart at MatchPos + length.
inline Reference referenceSearch(const std::string& file, const std::string& text, bool exactCase) {
    Reference out;
    const auto size = static_cast<std::int64_t>(file.size());
    std::string pattern = text;
    if (!exactCase) {
        for (auto& c : pattern) {
            c = static_cast<char>(upperCase1252(static_cast<unsigned char>(c)));
        }
    }
    const auto len = static_cast<std::int64_t>(pattern.size());
    std::int64_t readPos = 0;
    while (true) {
        std::int64_t match = -1;
        while (size - len > readPos) {
            bool flag = true;
            for (std::int64_t j = 1; j <= len; ++j) {
                ++readPos;
                auto b = static_cast<unsigned char>(file[static_cast<std::size_t>(readPos - 1)]);
                if (!exactCase) {
                    b = upperCase1252(b);
                }
                if (b != static_cast<unsigned char>(pattern[static_cast<std::size_t>(j - 1)])) {
                    flag = false;
                    break;
                }
            }
            if (flag) {
                readPos -= len;
                match = readPos;
                break;
            }
        }
        if (match < 0) {
            return out;
        }
        out.offsets.push_back(static_cast<std::uint64_t>(match));
        out.progress.push_back(static_cast<int>(
            std::nearbyint(static_cast<double>(match) / static_cast<double>(size) * 100.0)));
        readPos = match + len;
    }
}

// Up to 200 pieces full of near-misses ("FFrom", "from", "From ??", lone line ends); at least 2
// bytes, so the file is always searched.
inline std::string randomMailbox(std::mt19937& rng) {
    static const std::vector<std::string> pieces = {
        "From ???@???", "From ", "FFrom ???@???", "F", "Fr",           "rom", "???@???", "?",
        "\r\n",         "\n",    "from ???@???",  "x", "FROM ???@???", " ",   "From ??", "@"};
    std::string file;
    const int count = static_cast<int>(rng() % 200);
    for (int i = 0; i < count; ++i) {
        file += pieces[rng() % pieces.size()];
    }
    if (file.size() < 2) {
        file += "ab";
    }
    return file;
}

} // namespace mbx::scanner

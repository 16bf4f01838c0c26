// The messages of tests/data: every file of eml/, every message of the mbox files in mbox/ (split
// at envelope lines that start the file or follow an empty line), and every message of the
// mailbox tree in eudora/.
#pragma once

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace mbx::testing {

struct RealMessage {
    std::string name;  // file name, "#n" appended for mailbox messages
    std::string bytes; // starting with its envelope line for mailbox messages
};

inline std::string readWholeFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline std::vector<RealMessage> realEmlFiles(const std::filesystem::path& dataDir) {
    std::vector<RealMessage> out;
    for (const auto& e : std::filesystem::directory_iterator(dataDir / "eml")) {
        out.push_back({e.path().filename().string(), readWholeFile(e.path())});
    }
    std::sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
    return out;
}

inline std::vector<RealMessage> realMailboxMessages(const std::filesystem::path& dataDir) {
    std::vector<RealMessage> out;
    std::vector<std::filesystem::path> boxes;
    for (const auto& e : std::filesystem::directory_iterator(dataDir / "mbox")) {
        boxes.push_back(e.path());
    }
    std::sort(boxes.begin(), boxes.end());
    for (const auto& path : boxes) {
        const std::string box = readWholeFile(path);
        std::size_t start = std::string::npos;
        std::size_t n = 0;
        for (std::size_t pos = 0; pos <= box.size();) {
            const std::size_t eol = std::min(box.find('\n', pos), box.size());
            const bool sep = box.compare(pos, 5, "From ") == 0 &&
                             (pos == 0 || (pos >= 2 && box[pos - 2] == '\n') ||
                              (pos >= 3 && box.compare(pos - 3, 3, "\n\r\n") == 0) ||
                              (pos == 3 && box.starts_with("\xEF\xBB\xBF")));
            if (sep || pos == box.size()) {
                if (start != std::string::npos) {
                    out.push_back({path.filename().string() + "#" + std::to_string(n++),
                                   box.substr(start, pos - start)});
                }
                start = pos;
            }
            pos = eol + 1;
        }
    }
    return out;
}

// The mailboxes already in the program's input format: messages start at "From ???@???" lines,
// with or without an empty line before them. The .bak copies are skipped.
inline std::vector<RealMessage> realEudoraMessages(const std::filesystem::path& dataDir) {
    std::vector<RealMessage> out;
    std::vector<std::filesystem::path> boxes;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dataDir / "eudora")) {
        if (e.path().extension() == ".mbx") {
            boxes.push_back(e.path());
        }
    }
    std::sort(boxes.begin(), boxes.end());
    for (const auto& path : boxes) {
        const std::string box = readWholeFile(path);
        std::size_t start = box.find("From ???@???");
        std::size_t n = 0;
        while (start != std::string::npos) {
            std::size_t next = box.find("\nFrom ???@???", start);
            const std::size_t end = next == std::string::npos ? box.size() : next + 1;
            out.push_back({path.filename().string() + "#" + std::to_string(n++),
                           box.substr(start, end - start)});
            start = next == std::string::npos ? next : next + 1;
        }
    }
    return out;
}

} // namespace mbx::testing

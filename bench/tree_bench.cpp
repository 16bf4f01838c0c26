// A whole Eudora folder in one data file (mbxvane-convert --single-file) against one data file
// per mailbox, on the same generated tree in the same run; and a data file above 4 GiB written
// that way and read back whole by readpst and pffexport.
//
// The tree is Eudora for Windows' layout: the benchmark's mailbox cut at message boundaries into
// MB0001.MBX ..., ten to a folder (F01.FOL ...), ten folders to a folder above, every folder with
// its descmap.pce naming its entries ("Mailbox 17", "Folder 3").
#include "bench/bench_support.h"
#include "bench/registry.h"
#include "convert/engine.h"
#include "scanner/separator_search.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace mbx::bench {
namespace {

namespace fs = std::filesystem;

std::string numbered(const char* prefix, std::size_t n, const char* suffix) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%s%04zu%s", prefix, n, suffix);
    return buffer;
}

// Appends "Name,FILE,Type,N" to the folder's map.
void mapEntry(const fs::path& folder, const std::string& name, const std::string& file, char type) {
    std::ofstream(folder / "descmap.pce", std::ios::binary | std::ios::app)
        << name << ',' << file << ',' << type << ",N\r\n";
}

// The folder of mailbox i (from 0): ten mailboxes to a folder, ten folders to a folder above,
// every folder entered in its parent's map when it is made.
fs::path folderOf(const fs::path& root, std::size_t i) {
    fs::path folder = root;
    const std::size_t leaf = i / 10, top = leaf / 10;
    const auto make = [&](std::size_t n, const char* label) {
        const auto file = numbered("F", n, ".FOL");
        if (!fs::exists(folder / file)) {
            fs::create_directories(folder / file);
            mapEntry(folder, std::string(label) + " " + std::to_string(n), file, 'F');
        }
        folder /= file;
    };
    make(top, "Folder");
    make(leaf, "Folder");
    return folder;
}

// Cuts `mailbox` into `count` mailboxes of about as many messages each, in a tree under `root`.
// Returns the number of mailboxes made (fewer when there are fewer messages).
std::size_t makeTree(const fs::path& mailbox, const fs::path& root, std::size_t count) {
    const auto found = scanner::findSeparators(mailbox.string(), convert::kSeparatorText, {});
    const auto& offsets = found.offsets;
    count = std::min(count, offsets.size());
    std::ifstream in(mailbox, std::ios::binary);
    std::string block;
    for (std::size_t i = 0; i < count; ++i) {
        const auto first = offsets.size() * i / count, last = offsets.size() * (i + 1) / count;
        const auto from = offsets[first];
        const auto to = last < offsets.size() ? offsets[last] : found.fileSize;
        const auto folder = folderOf(root, i);
        const auto file = numbered("MB", i, ".MBX");
        mapEntry(folder, "Mailbox " + std::to_string(i), file, 'M');
        block.resize(static_cast<std::size_t>(to - from));
        in.seekg(static_cast<std::streamoff>(from));
        in.read(block.data(), static_cast<std::streamsize>(block.size()));
        std::ofstream(folder / file, std::ios::binary)
            .write(block.data(), static_cast<std::streamsize>(block.size()));
    }
    return count;
}

struct Timed {
    double seconds = 0;
    double peakMiB = 0;
    bool ok = true;
};

// "tree [--mailboxes N] [--messages N] [--runs N] [--dir DIR]"
int treeBench(std::uint64_t mailboxes, std::uint64_t messages, std::uint64_t runs,
              const fs::path& dir) {
    const auto self = fs::read_symlink("/proc/self/exe").string();
    const auto work = dir / ("mbxvane-bench-tree-" + std::to_string(::getpid()));
    fs::create_directories(work);
    const auto source = work / "source.mbx";
    const auto bytes = generateMailbox(source, messages);
    const auto made = makeTree(source, work / "Eudora", mailboxes);
    fs::remove(source);
    std::cout << "tree: " << made << " mailboxes, " << messages << " messages, "
              << formatFixed(static_cast<double>(bytes) / (1 << 20), 1) << " MiB" << std::endl;
    runChild({"sh", "-c", "find \"$0\" -type f -exec cat {} + > /dev/null",
              (work / "Eudora").string()}); // warm the cache

    std::vector<double> perMailbox, single;
    Timed perPeak, singlePeak;
    for (std::uint64_t run = 0; run < runs; ++run) {
        const auto out = work / ("out-" + std::to_string(run));
        fs::create_directories(out);
        ::sync();
        const auto a = runChild({self, "convert", "--format", "pst", "--out",
                                 (out / "each").string(), (work / "Eudora").string()});
        ::sync();
        const auto b = runChild({self, "convert", "--format", "pst", "--single-file",
                                 (out / "tree.pst").string(), (work / "Eudora").string()});
        perMailbox.push_back(a.seconds);
        single.push_back(b.seconds);
        perPeak.peakMiB = std::max(perPeak.peakMiB, static_cast<double>(a.maxRssKiB) / 1024);
        singlePeak.peakMiB = std::max(singlePeak.peakMiB, static_cast<double>(b.maxRssKiB) / 1024);
        perPeak.ok = perPeak.ok && a.status == 0;
        singlePeak.ok = singlePeak.ok && b.status == 0;
        if (run + 1 == runs) {
            std::uintmax_t each = 0;
            for (const auto& e : fs::directory_iterator(out / "each")) {
                each += e.path().extension() == ".pst" ? e.file_size() : 0;
            }
            std::cout << "data files: " << made << " per mailbox "
                      << formatFixed(static_cast<double>(each) / (1 << 20), 1) << " MiB, one "
                      << formatFixed(
                             static_cast<double>(fs::file_size(out / "tree.pst")) / (1 << 20), 1)
                      << " MiB" << std::endl;
        }
        fs::remove_all(out);
    }
    const auto line = [](const char* name, double seconds, const Timed& t) {
        std::cout << name << ": " << formatFixed(seconds) << " s, peak RSS "
                  << formatFixed(t.peakMiB, 1) << " MiB" << (t.ok ? "" : " (FAILED)") << std::endl;
    };
    const double a = median(perMailbox), b = median(single);
    line(".pst per mailbox (--out)", a, perPeak);
    line(".pst for the tree (--single-file)", b, singlePeak);
    std::cout << "single file / per mailbox: " << formatFixed(b / a, 2) << " (target <= 1.1)"
              << std::endl;
    fs::remove_all(work);
    return perPeak.ok && singlePeak.ok ? 0 : 1;
}

void treeSuite() {
    fs::path dir = fs::temp_directory_path();
    treeBench(
        envNumber("MBXVANE_BENCH_TREE_MAILBOXES", 1000),
        envNumber("MBXVANE_BENCH_MESSAGES", 200000),
        std::max<std::uint64_t>(1, std::min<std::uint64_t>(envNumber("MBXVANE_BENCH_RUNS", 5), 3)),
        dir);
}

bool number(const std::string& text, std::uint64_t& value) {
    char* end = nullptr;
    value = std::strtoull(text.c_str(), &end, 10);
    return !text.empty() && text[0] != '-' && *end == '\0';
}

int treeCommand(const std::vector<std::string>& args) {
    std::uint64_t mailboxes = 1000, messages = 20000, runs = 3;
    fs::path dir = fs::temp_directory_path();
    bool ok = true;
    for (std::size_t i = 0; i < args.size() && ok; ++i) {
        const bool value = i + 1 < args.size();
        if (args[i] == "--mailboxes" && value) {
            ok = number(args[++i], mailboxes) && mailboxes > 0;
        } else if (args[i] == "--messages" && value) {
            ok = number(args[++i], messages) && messages > 0;
        } else if (args[i] == "--runs" && value) {
            ok = number(args[++i], runs) && runs > 0;
        } else if (args[i] == "--dir" && value) {
            dir = args[++i];
        } else {
            ok = false;
        }
    }
    if (!ok) {
        std::cerr << "usage: mbxvane-bench tree [--mailboxes N] [--messages N] [--runs N] "
                     "[--dir DIR]\n";
        return 2;
    }
    return treeBench(mailboxes, messages, runs, dir);
}

// Messages of a single data file above 4 GiB: each carries a detached attachment (Eudora's
// "Attachment Converted:" line) of 32 MiB of random bytes, so the mailboxes stay small while the
// data file grows. Four mailboxes in two folders; the attachment of the last message lies past
// 4 GiB in the file.
int largeCommand(const std::vector<std::string>& args) {
    std::uint64_t mib = 4352; // 4.25 GiB of attachments
    fs::path dir = fs::temp_directory_path();
    bool ok = true;
    for (std::size_t i = 0; i < args.size() && ok; ++i) {
        const bool value = i + 1 < args.size();
        if (args[i] == "--mib" && value) {
            ok = number(args[++i], mib) && mib >= 32;
        } else if (args[i] == "--dir" && value) {
            dir = args[++i];
        } else {
            ok = false;
        }
    }
    if (!ok) {
        std::cerr << "usage: mbxvane-bench single-file-large [--mib N] [--dir DIR]\n";
        return 2;
    }
    const auto self = fs::read_symlink("/proc/self/exe").string();
    const auto work = dir / ("mbxvane-bench-large-" + std::to_string(::getpid()));
    const auto root = work / "Eudora";
    fs::create_directories(root / "Attach");
    constexpr std::size_t kAttachment = 32u << 20;
    {
        std::mt19937_64 random(7);
        std::vector<std::uint64_t> words(kAttachment / 8);
        for (auto& w : words) {
            w = random();
        }
        std::ofstream(root / "Attach" / "blob.bin", std::ios::binary)
            .write(reinterpret_cast<const char*>(words.data()),
                   static_cast<std::streamsize>(kAttachment));
    }
    const std::size_t messages = (mib + 31) / 32;
    std::size_t perMailbox[4] = {};
    for (std::size_t k = 0; k < messages; ++k) {
        const std::size_t box = k % 4;
        const auto folder = box < 2 ? root / "ARCHIV~1.FOL" : root;
        if (k < 4) {
            if (box == 0) {
                fs::create_directories(folder);
                mapEntry(root, "Archive 2003", "ARCHIV~1.FOL", 'F');
            }
            mapEntry(folder, "Big " + std::to_string(box), "BIG" + std::to_string(box) + ".MBX",
                     'M');
        }
        std::ofstream(folder / ("BIG" + std::to_string(box) + ".MBX"),
                      std::ios::binary | std::ios::app)
            << "From ???@??? Mon Jan 01 10:00:00 2001\r\nFrom: ann@example.org\r\n"
               "To: bob@example.org\r\nSubject: big "
            << k << "\r\nDate: Mon, 1 Jan 2001 10:00:00 +0000\r\n\r\nMessage " << k
            << ".\r\nAttachment Converted: \"C:\\Eudora\\Attach\\blob.bin\"\r\n\r\n";
        ++perMailbox[box];
    }
    const auto pst = work / "large.pst";
    const auto convert = runChild({self, "convert", "--quiet", "--format", "pst", "--single-file",
                                   pst.string(), root.string()});
    std::error_code ec;
    const auto size = fs::file_size(pst, ec);
    std::cout << "single data file: " << messages << " messages with a 32 MiB attachment, " << size
              << " bytes (" << formatFixed(static_cast<double>(size) / (1u << 30), 2) << " GiB) in "
              << formatFixed(convert.seconds, 1) << " s, peak RSS "
              << formatFixed(static_cast<double>(convert.maxRssKiB) / 1024, 1) << " MiB, exit "
              << convert.status << std::endl;
    bool good = convert.status == 0 && size > (4ull << 30);

    // readpst: one file per message (-S), attachments beside it, in one process (-j 0): by
    // default it forks per folder and message, and each child's freopen of the inherited stream
    // first moves the file offset it still shares with its parent back by the bytes left in its
    // buffer (lseek SEEK_CUR), so a parent's read between its seek and its read takes bytes from
    // further back in the file. pffexport: every item.
    const auto counts = [&](const std::string& what, const fs::path& exported,
                            const std::string& command) {
        const auto r = runChild({"sh", "-c", command});
        // Attachment files of 32 MiB with the generated bytes, found anywhere in the export.
        const auto listing = work / (what + ".txt");
        runChild({"sh", "-c",
                  "find \"$0\" -type f -size 32768k -exec cmp -s {} \"$1\" \\; -print | wc -l",
                  exported.string(), (root / "Attach" / "blob.bin").string()},
                 listing.string());
        std::ifstream in(listing);
        std::size_t same = 0;
        in >> same;
        std::cout << what << ": exit " << r.status << " in " << formatFixed(r.seconds, 1) << " s, "
                  << same << " of " << messages << " attachments read back intact" << std::endl;
        good = good && r.status == 0 && same == messages;
        fs::remove_all(exported);
    };
    if (convert.status == 0) {
        fs::create_directories(work / "readpst");
        counts("readpst", work / "readpst",
               "readpst -q -j 0 -S -o '" + (work / "readpst").string() + "' '" + pst.string() +
                   "'");
        counts("pffexport", work / "pffexport.export",
               "pffexport -q -f all -m items -t '" + (work / "pffexport").string() + "' '" +
                   pst.string() + "'");
    }
    std::cout << (good ? "OK" : "FAILED") << std::endl;
    fs::remove_all(work);
    return good ? 0 : 1;
}

MBX_BENCH_SUITE("Eudora tree in one .pst", 35, treeSuite);
MBX_BENCH_COMMAND("tree", treeCommand);
MBX_BENCH_COMMAND("single-file-large", largeCommand);

} // namespace
} // namespace mbx::bench

// The PST writer in mbxvane-bench:
//  - "pst-write --messages N --out FILE.pst [--permute] [--attachment-mib M] [--check]": writes N
//    generated messages into one folder and prints the rates, the peak resident memory and the
//    file size over the payload; --attachment-mib gives every message an attachment of M MiB
//    (the > 4 GiB case: --messages 230 --attachment-mib 20), --check runs the structural checker;
//  - the "PST writer" suite: 100,000 generated messages (bodies of 1 KiB to 100 KiB, a tenth
//    with an attachment) into one PST in a child process, against writing the same payloads as
//    separate files.
#include "bench/registry.h"
#include "mailstore/mapi/tags.h"
#include "mailstore/pst/check.h"
#include "mailstore/pst/writer.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace mbx::bench {
namespace {

namespace fs = std::filesystem;
namespace tags = mapi::tags;
using Clock = std::chrono::steady_clock;

struct Generated {
    mapi::Message message;
    std::uint64_t payload = 0; // body, subject and attachment bytes
};

// Text and bytes the generated messages take their bodies and attachments from: slices at
// random offsets, so that generating a message costs little next to writing it.
const std::string& textPool() {
    static const std::string pool = [] {
        std::mt19937_64 rng(42);
        static const char kWords[] =
            "lorem ipsum dolor sit amet consectetur adipiscing elit sed do\r\n";
        std::string s(256 * 1024, ' ');
        for (auto& c : s)
            c = kWords[rng() % (sizeof kWords - 1)];
        return s;
    }();
    return pool;
}
const mapi::Bytes& bytePool() {
    static const mapi::Bytes pool = [] {
        std::mt19937_64 rng(43);
        mapi::Bytes b(512 * 1024);
        for (auto& x : b)
            x = static_cast<std::uint8_t>(rng());
        return b;
    }();
    return pool;
}

// Message i of the generated set: the same for every run, made on demand so that only one
// message is in memory at a time.
Generated generate(std::uint64_t i, std::uint64_t attachmentBytes) {
    std::mt19937_64 rng(i * 7919 + 17);
    Generated g;
    mapi::Message& m = g.message;
    const std::string subject = "Generated message " + std::to_string(i);
    m.props.set(tags::Subject, subject);
    m.props.set(tags::SenderName, std::string("Bench Sender"));
    m.props.set(tags::SenderEmailAddress, std::string("sender@example.org"));
    m.props.set(tags::SenderAddressType, std::string("SMTP"));
    m.props.set(tags::ClientSubmitTime,
                mapi::FileTime::fromUnixSeconds(1600000000 + static_cast<std::int64_t>(i)));
    m.props.set(tags::MessageDeliveryTime,
                mapi::FileTime::fromUnixSeconds(1600000060 + static_cast<std::int64_t>(i)));
    m.props.set(tags::MessageFlags, std::int32_t{tags::MsgFlagRead});
    const std::size_t bodySize = 1024 + rng() % (100 * 1024 - 1024 + 1);
    const std::string& text = textPool();
    const std::string body = text.substr(rng() % (text.size() - bodySize), bodySize);
    m.props.set(tags::Body, body);
    mapi::Recipient r;
    r.props.set(tags::RecipientType, std::int32_t{1});
    r.props.set(tags::DisplayName, std::string("Bench Recipient"));
    r.props.set(tags::EmailAddress, std::string("rcpt@example.net"));
    r.props.set(tags::AddressType, std::string("SMTP"));
    m.recipients.push_back(std::move(r));
    g.payload = subject.size() + body.size();
    const std::uint64_t attach =
        attachmentBytes ? attachmentBytes : (i % 10 == 0 ? 4096 + rng() % (200 * 1024) : 0);
    if (attach) {
        mapi::Attachment a;
        const mapi::Bytes& pool = bytePool();
        mapi::Bytes data;
        data.reserve(attach);
        std::size_t at = rng() % pool.size();
        while (data.size() < attach) {
            const std::size_t n = std::min<std::size_t>(attach - data.size(), pool.size() - at);
            data.insert(data.end(), pool.begin() + static_cast<std::ptrdiff_t>(at),
                        pool.begin() + static_cast<std::ptrdiff_t>(at + n));
            at = 0;
        }
        a.props.set(tags::AttachLongFilename, "file" + std::to_string(i) + ".bin");
        a.props.set(tags::AttachDataBinary, std::move(data));
        m.attachments.push_back(std::move(a));
        g.payload += attach;
    }
    return g;
}

long peakRssKiB() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

struct Options {
    std::uint64_t messages = 1000;
    std::string out;
    bool permute = false;
    std::uint64_t attachmentMiB = 0;
    bool check = false;
};

void report(const std::string& what, std::uint64_t messages, std::uint64_t payload,
            double seconds) {
    std::cout << what << ": " << messages << " messages in " << std::fixed << std::setprecision(2)
              << seconds << " s = " << std::setprecision(0) << messages / seconds << " messages/s, "
              << std::setprecision(1) << payload / seconds / 1e6 << " MB/s of payload\n";
}

int writePst(const Options& o) {
    const auto start = Clock::now();
    std::uint64_t payload = 0;
    auto w = pst::PstWriter::create(o.out, "Benchmark",
                                    {o.permute ? pst::Crypt::Permute : pst::Crypt::None});
    const auto folder = w->addFolder(w->ipmSubtree(), "Inbox");
    for (std::uint64_t i = 0; i < o.messages; ++i) {
        const Generated g = generate(i, o.attachmentMiB << 20);
        payload += g.payload;
        w->addMessage(folder, g.message);
    }
    w->close();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const auto size = fs::file_size(o.out);
    report("pst-write", o.messages, payload, seconds);
    std::cout << "payload " << payload << " bytes, file " << size << " bytes, file/payload "
              << std::setprecision(3) << static_cast<double>(size) / static_cast<double>(payload)
              << "\n";
    std::cout << "peak RSS " << peakRssKiB() / 1024 << " MiB\n";
    if (o.check) {
        const auto c0 = Clock::now();
        const auto r = pst::checkFile(o.out);
        std::cout << "pstcheck: " << (r.ok() ? "OK" : "FAULTS") << " (" << r.nodes << " nodes, "
                  << r.blocks << " blocks) in " << std::setprecision(1)
                  << std::chrono::duration<double>(Clock::now() - c0).count() << " s\n";
        for (std::size_t i = 0; i < r.faults.size() && i < 20; ++i)
            std::cout << "  " << r.faults[i] << "\n";
        if (!r.ok())
            return 1;
    }
    return 0;
}

int pstWriteCommand(const std::vector<std::string>& args) {
    Options o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= args.size())
                throw std::runtime_error(a + " needs a value");
            return args[++i];
        };
        try {
            if (a == "--messages")
                o.messages = std::stoull(value());
            else if (a == "--out")
                o.out = value();
            else if (a == "--permute")
                o.permute = true;
            else if (a == "--attachment-mib")
                o.attachmentMiB = std::stoull(value());
            else if (a == "--check")
                o.check = true;
            else
                throw std::runtime_error("unknown option " + a);
        } catch (const std::exception& e) {
            std::cerr << "pst-write: " << e.what() << "\n";
            return 2;
        }
    }
    if (o.out.empty()) {
        std::cerr << "usage: mbxvane-bench pst-write --messages N --out FILE.pst [--permute] "
                     "[--attachment-mib M] [--check]\n";
        return 2;
    }
    try {
        return writePst(o);
    } catch (const std::exception& e) {
        std::cerr << "pst-write: " << e.what() << "\n";
        return 1;
    }
}

void runSuite(std::uint64_t messages) {
    const fs::path dir =
        fs::temp_directory_path() / ("mbxvane-pst-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::cout << "== PST writer: " << messages
              << " generated messages (1-100 KiB bodies, a tenth with an attachment)\n";

    // The PST in a child process, so that its peak memory is its own.
    const fs::path pst = dir / "bench.pst";
    std::cout.flush();
    const pid_t child = ::fork();
    if (child == 0) {
        Options o;
        o.messages = messages;
        o.out = pst.string();
        const int rc = writePst(o);
        std::cout.flush();
        std::_Exit(rc);
    }
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    std::cout << "pst-write process peak RSS " << usage.ru_maxrss / 1024 << " MiB\n";
    // The whole file through the structural checker (above 4 GiB with the default count, so
    // FMap and FPMap pages are part of it).
    const auto c0 = Clock::now();
    const auto check = pst::checkFile(pst);
    std::cout << "pstcheck " << (check.ok() ? "OK" : "FAULTS") << " on " << fs::file_size(pst)
              << " bytes in " << std::fixed << std::setprecision(1)
              << std::chrono::duration<double>(Clock::now() - c0).count() << " s\n";
    for (std::size_t i = 0; i < check.faults.size() && i < 10; ++i)
        std::cout << "  " << check.faults[i] << "\n";
    fs::remove(pst);

    // The same payloads as one file per message (body, then the attachment bytes).
    const auto start = Clock::now();
    std::uint64_t payload = 0;
    const fs::path files = dir / "files";
    fs::create_directories(files);
    for (std::uint64_t i = 0; i < messages; ++i) {
        const Generated g = generate(i, 0);
        payload += g.payload;
        std::ofstream out(files / (std::to_string(i) + ".txt"), std::ios::binary);
        const std::string body = *g.message.props.string(tags::Body);
        out << *g.message.props.string(tags::Subject) << body;
        for (const auto& a : g.message.attachments) {
            const auto& data = std::get<mapi::Bytes>(*a.props.find(tags::AttachDataBinary));
            out.write(reinterpret_cast<const char*>(data.data()),
                      static_cast<std::streamsize>(data.size()));
        }
    }
    ::sync();
    report("separate files", messages, payload,
           std::chrono::duration<double>(Clock::now() - start).count());
    fs::remove_all(dir);
}

void pstWriteSuite() {
    const char* env = std::getenv("MBXVANE_BENCH_PST_MESSAGES");
    runSuite(env ? std::strtoull(env, nullptr, 10) : 100000);
}

// "pst-write-suite [--messages N]": the suite alone.
int pstWriteSuiteCommand(const std::vector<std::string>& args) {
    std::uint64_t messages = 100000;
    if (args.size() == 2 && args[0] == "--messages")
        messages = std::strtoull(args[1].c_str(), nullptr, 10);
    else if (!args.empty()) {
        std::cerr << "usage: mbxvane-bench pst-write-suite [--messages N]\n";
        return 2;
    }
    runSuite(messages);
    return 0;
}

} // namespace

MBX_BENCH_COMMAND("pst-write", pstWriteCommand);
MBX_BENCH_COMMAND("pst-write-suite", pstWriteSuiteCommand);
MBX_BENCH_SUITE("PST writer", 40, pstWriteSuite);

} // namespace mbx::bench

// The command line of mbxvane-convert, parsed with Qt's QCommandLineParser.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace mbx::cli {

// Exit codes a script can rely on.
enum ExitCode : int {
    kExitOk = 0,           // every message written
    kExitFailures = 1,     // some messages could not be written (the report lists them)
    kExitUsage = 2,        // bad usage, or nothing to convert
    kExitInterrupted = 130 // stopped by Ctrl-C (SIGINT) or SIGTERM; written files are complete
};

enum class Target { Eml, Emlx, Pst, Msg };

struct Options {
    Target target = Target::Eml;
    std::string out;        // empty: not given (allowed with singleFile only)
    std::string singleFile; // the one .pst for the whole tree; empty: a .pst per mailbox
    std::vector<std::string> attachments; // searched in this order; empty: none given
    std::string report;                   // empty: not given
    bool quiet = false;
    bool verify = true; // read every file written back (--no-verify: not)
    int workers = -1;   // threads that parse messages for .pst and .msg; -1: one per core
    std::vector<std::string> paths;
};

// The outcome of parsing: options to run with, or an exit code and the text to print (on stdout
// for --help and --version, on stderr for an error).
struct ParseResult {
    std::optional<Options> options;
    int exitCode = kExitOk;
    std::string text;
};

// `arguments` are the program's arguments as the system passed them, the program name first.
// Paths keep their bytes exactly, whatever the locale (a mailbox name need not be UTF-8).
ParseResult parseArguments(const std::vector<std::string>& arguments);

} // namespace mbx::cli

#include "cli/options.h"

#include <QCommandLineParser>
#include <QCoreApplication>

namespace mbx::cli {

namespace {

constexpr const char* kDescription =
    "Converts Eudora mailboxes (.mbx, .mbox) into .eml, .emlx, .msg or .pst files.\n"
    "Each PATH is a mailbox file, or a folder searched at any depth for files whose names\n"
    "end in .mbx or .mbox and for Mac mailboxes (no extension, starting with \"From ???@???\").\n"
    "The messages of every mailbox go into a folder of their own under the output folder,\n"
    "repeating the mailbox's path; a .pst file is written per mailbox.\n"
    "With --single-file, one .pst holds every mailbox instead, in a folder named as in Eudora\n"
    "and nested as Eudora nests it (Eudora's folder maps, descmap.pce, give the names; a Mac\n"
    "tree is its folders), one top folder per PATH when several are given. --out is optional\n"
    "then: the report goes beside the data file unless --out names a folder for it.\n"
    "\n"
    "Every file written is read back and its messages compared with what was imported\n"
    "(\"Verified N of N messages\"); a message that reads back otherwise is a failure.\n"
    "\n"
    "Exit codes: 0 every message written; 1 some messages failed (see the report);\n"
    "2 bad usage or nothing to convert; 130 interrupted (the files written are complete).";

// Arguments travel through Qt as Latin-1, one character per byte, so that no byte is lost.
std::string bytes(const QString& text) {
    return text.toLatin1().toStdString();
}

ParseResult fail(const std::string& message) {
    return {std::nullopt, kExitUsage,
            "mbxvane-convert: " + message +
                "\nTry 'mbxvane-convert --help' for more information.\n"};
}

} // namespace

ParseResult parseArguments(const std::vector<std::string>& arguments) {
    QStringList list;
    for (const auto& argument : arguments) {
        list.append(QString::fromLatin1(argument.data(), static_cast<qsizetype>(argument.size())));
    }
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(kDescription));
    const auto help = parser.addHelpOption();
    const auto version = parser.addVersionOption();
    const QCommandLineOption format(QStringLiteral("format"),
                                    QStringLiteral("Target format: eml, emlx, pst or msg."),
                                    QStringLiteral("FORMAT"));
    const QCommandLineOption out(
        QStringLiteral("out"),
        QStringLiteral("Output folder (created when missing); with --single-file, "
                       "the report's folder (optional)."),
        QStringLiteral("DIR"));
    const QCommandLineOption singleFile(
        QStringLiteral("single-file"),
        QStringLiteral("With --format pst: one data file FILE (ending in .pst, not existing yet) "
                       "for every mailbox, keeping Eudora's folder tree and names."),
        QStringLiteral("FILE"));
    const QCommandLineOption attachments(
        QStringLiteral("attachments"),
        QStringLiteral("A folder where the files of detached attachments are looked up for "
                       ".pst and .msg; may be given more than once. The folders are searched in "
                       "the order given, then the nearest Attach, Attachments or Attachments "
                       "Folder beside a mailbox or above it."),
        QStringLiteral("DIR"));
    const QCommandLineOption report(
        QStringLiteral("report"),
        QStringLiteral("Also write a plain-text report of the run (counts and every failure) "
                       "to FILE."),
        QStringLiteral("FILE"));
    const QCommandLineOption quiet(QStringLiteral("quiet"),
                                   QStringLiteral("No progress; only errors are printed."));
    const QCommandLineOption noVerify(
        QStringLiteral("no-verify"),
        QStringLiteral("Do not read the files written back to compare them with the mailboxes."));
    // For measurements (mbxvane-bench convert); not shown in the help.
    QCommandLineOption workers(QStringLiteral("workers"),
                               QStringLiteral("Threads that parse messages for .pst and .msg."),
                               QStringLiteral("N"));
    workers.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOptions({format, out, singleFile, attachments, report, quiet, noVerify, workers});
    parser.addPositionalArgument(QStringLiteral("PATH"),
                                 QStringLiteral("Mailbox files or folders to convert."),
                                 QStringLiteral("PATH..."));

    if (!parser.parse(list)) {
        return fail(bytes(parser.errorText()));
    }
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        return {std::nullopt, kExitOk, bytes(parser.helpText())};
    }
    if (parser.isSet(version)) {
        return {std::nullopt, kExitOk,
                "mbxvane-convert " + QCoreApplication::applicationVersion().toStdString() + "\n"};
    }

    Options options;
    if (!parser.isSet(format)) {
        return fail("--format is required (eml, emlx, pst or msg)");
    }
    // In any letter case: EML, Pst ...
    const auto name = parser.value(format).toLower();
    if (name == QLatin1String("eml")) {
        options.target = Target::Eml;
    } else if (name == QLatin1String("emlx")) {
        options.target = Target::Emlx;
    } else if (name == QLatin1String("pst")) {
        options.target = Target::Pst;
    } else if (name == QLatin1String("msg")) {
        options.target = Target::Msg;
    } else {
        return fail("unknown format '" + bytes(parser.value(format)) +
                    "' (use eml, emlx, pst or msg)");
    }
    if (parser.isSet(singleFile)) {
        if (options.target != Target::Pst) {
            return fail("--single-file works with --format pst only");
        }
        options.singleFile = bytes(parser.value(singleFile));
        if (!parser.value(singleFile).endsWith(QLatin1String(".pst"), Qt::CaseInsensitive) ||
            parser.value(singleFile).size() <= 4) {
            return fail("--single-file takes the name of a .pst file (FILE.pst)");
        }
    } else if (!parser.isSet(out) || parser.value(out).isEmpty()) {
        return fail("--out DIR is required");
    }
    options.out = bytes(parser.value(out));
    for (const auto& folder : parser.values(attachments)) {
        options.attachments.push_back(bytes(folder));
    }
    options.report = bytes(parser.value(report));
    options.quiet = parser.isSet(quiet);
    options.verify = !parser.isSet(noVerify);
    if (parser.isSet(workers)) {
        bool number = false;
        options.workers = parser.value(workers).toInt(&number);
        if (!number || options.workers < 0) {
            return fail("--workers takes a number of threads (0 or more)");
        }
    }
    for (const auto& path : parser.positionalArguments()) {
        options.paths.push_back(bytes(path));
    }
    if (options.paths.empty()) {
        return fail("no mailbox or folder given");
    }
    return {std::move(options), kExitOk, {}};
}

} // namespace mbx::cli

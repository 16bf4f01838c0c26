// mbxvane-convert: the conversion engine of the Mbxvane window, from a terminal or a script.
#include "cli/convert_command.h"
#include "cli/interrupt.h"
#include "cli/options.h"

#include <QCoreApplication>
#include <cstdio>
#include <iostream>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

bool stdoutIsTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stdout)) != 0;
#else
    return isatty(fileno(stdout)) != 0;
#endif
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("mbxvane-convert"));
    QCoreApplication::setApplicationVersion(QStringLiteral(MBXVANE_VERSION));

    const auto parsed = mbx::cli::parseArguments(std::vector<std::string>(argv, argv + argc));
    if (!parsed.options) {
        (parsed.exitCode == 0 ? std::cout : std::cerr) << parsed.text << std::flush;
        return parsed.exitCode;
    }
    mbx::cli::installInterruptHandlers();
    mbx::cli::Console console{std::cout,
                              std::cerr,
                              stdoutIsTerminal() ? mbx::cli::ProgressPrinter::Mode::Terminal
                                                 : mbx::cli::ProgressPrinter::Mode::Lines,
                              {}};
    return mbx::cli::runConversion(*parsed.options, console, mbx::cli::interruptFlag());
}

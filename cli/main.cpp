// mbxvane-convert: the conversion engine of the Mbxvane window, from a terminal or a script.
#include "cli/convert_command.h"
#include "cli/interrupt.h"
#include "cli/options.h"
#include "platform/file.h"

#include <QCoreApplication>
#include <cstdio>
#include <iostream>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("mbxvane-convert"));
    QCoreApplication::setApplicationVersion(QStringLiteral(MBXVANE_VERSION));

    const auto parsed = mbx::cli::parseArguments(mbx::platform::utf8Arguments(argc, argv));
    if (!parsed.options) {
        (parsed.exitCode == 0 ? std::cout : std::cerr) << parsed.text << std::flush;
        return parsed.exitCode;
    }
    mbx::cli::installInterruptHandlers();
    mbx::cli::Console console{std::cout,
                              std::cerr,
                              mbx::platform::isTerminal(stdout)
                                  ? mbx::cli::ProgressPrinter::Mode::Terminal
                                  : mbx::cli::ProgressPrinter::Mode::Lines,
                              {}};
    return mbx::cli::runConversion(*parsed.options, console, mbx::cli::interruptFlag());
}

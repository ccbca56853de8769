#include "CommandLine.h"

#include <QGuiApplication>
#include <iostream>

#include "BenchRunner.h"
#include "HeadlessRunner.h"
#include "RecoverRunner.h"
#include "ReportRunner.h"

std::optional<ExitCode> runCommandLine(int& argc, char** argv, const OptionsResult& parsed) {
    const std::string program = argc > 0 ? argv[0] : "dmmview";
    if (!parsed.error.empty()) {
        std::cerr << program << ": " << parsed.error << "\n";
        if (parsed.showUsage) std::cerr << usageText(program);
        return ExitCode::NotStarted;
    }
    if (parsed.options.help) {
        std::cout << usageText(program);
        return ExitCode::Success;
    }
    // the window would need a screen Qt can open: say what to give instead of aborting in Qt
    if (parsed.options.benchWindow() && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") &&
        qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        std::cerr << program
                  << ": the bench needs a display for its window, or --record FILE or --publish to run "
                     "without one\n";
        return ExitCode::NotStarted;
    }
    if (parsed.options.benchHeadless()) {
        QCoreApplication app(argc, argv);
        return runBenchHeadless(parsed.options, std::cout, std::cerr);
    }
    if (parsed.options.decodePath) {
        // the alarms' program runs on an event loop of the rules
        std::optional<QCoreApplication> app;
        if (parsed.options.rules) app.emplace(argc, argv);
        return runHeadless(parsed.options, std::cin, std::cout, std::cerr);
    }
    if (parsed.options.recoverJournal) {
        QCoreApplication app(argc, argv);
        return runRecover(parsed.options, std::cout, std::cerr);
    }
    if (parsed.options.reportPdf) {
        // The report needs fonts, not a screen: without a platform chosen, draw off-screen.
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        QGuiApplication app(argc, argv);
        return runReport(parsed.options, defaultTableLoader(), std::cout, std::cerr);
    }
    return std::nullopt;
}

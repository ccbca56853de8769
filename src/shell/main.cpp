#include <QApplication>

#include "AppOptions.h"
#include "BenchWindowMain.h"
#include "CommandLine.h"
#include "TFCOMM.h"

int main(int argc, char* argv[]) {
    std::vector<std::string> args(argv + 1, argv + argc);
    const OptionsResult parsed = parseOptions(args);
    if (const std::optional<ExitCode> code = runCommandLine(argc, argv, parsed)) return exitStatus(*code);

    QApplication app(argc, argv);
    if (parsed.options.benchWindow()) return runBenchWindow(parsed.options);
    TFCOMM window(parsed.options);
    window.show();
    return app.exec();
}

#pragma once

#include <QStringList>
#include <memory>

#include "AppOptions.h"
#include "BenchModel.h"
#include "BenchSession.h"
#include "BenchSettings.h"

class BenchAlarms;
class BenchServing;
class BenchWindow;

// The bench window as the program opens it: the bench kept from the last run and what the
// command line adds, then the window; what the user adds or removes in it is kept for the next
// run (unless the command line said --no-settings).
class BenchWindowRun {
public:
    explicit BenchWindowRun(const AppOptions& options);
    ~BenchWindowRun();

    BenchWindow& window() { return *window_; }
    BenchSession& session() { return session_; }
    BenchModel& model() { return model_; }
    // what could not be set up, one line each
    const QStringList& problems() const { return problems_; }
    // Closes the window and the recording; the exit code of the run that ended with `code`.
    int finish(int code);

private:
    AppOptions options_;
    BenchModel model_;
    BenchSession session_;
    BenchSettings kept_;
    QStringList problems_;
    std::unique_ptr<BenchServing> serving_;
    std::unique_ptr<BenchWindow> window_;
    std::unique_ptr<BenchAlarms> alarms_;  // goes before the window it shows in
};

// The bench window as the program's window (--bench, or meters given without anything to write):
// a BenchWindowRun until the window is closed. Needs the QApplication; returns the exit code.
int runBenchWindow(const AppOptions& options);

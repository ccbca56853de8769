#pragma once

#include <QString>
#include <QStringList>
#include <iosfwd>

#include "AppOptions.h"
#include "BenchModel.h"
#include "ExitCode.h"

class BenchSession;

// Sets up what the options ask of the bench: the local meters (devices opened), the brokers and
// the math channels. Each problem is one line in `errors`; false when the bench cannot run as
// asked (a device that cannot be opened, an expression with a fault). The bench window calls it
// as the headless run does.
bool applyBenchOptions(const AppOptions& options, BenchSession& session, QStringList& errors);
// The same in two steps: the meters and brokers, then the math channels.
bool applyBenchSources(const AppOptions& options, BenchSession& session, QStringList& errors);
bool applyBenchMaths(const AppOptions& options, BenchSession& session, QStringList& errors);

// A refused math channel in words, with the expression and a mark under the fault:
//   P: ')' expected at character 7
//     U * (I
//           ^
QString mathRefusal(const QString& name, const QString& expression, const BenchModel::MathAdded& added);

// The bench without a window (needs a QCoreApplication): runs until SIGINT or SIGTERM, writes
// the recording, publishes the math channels with --publish, and prints each channel's
// statistics. Failed when a meter gave no reading or a file could not be written; NotStarted when
// the bench could not start.
ExitCode runBenchHeadless(const AppOptions& options, std::ostream& out, std::ostream& err);

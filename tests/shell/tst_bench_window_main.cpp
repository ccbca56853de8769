// The bench window as the program opens it: what the user set up in it comes back the next time
// the same command line opens it.
#include <QDialog>
#include <QLineEdit>
#include <QSettings>
#include <QtTest>

#include "../workbench/BenchTestSupport.h"
#include "BenchSettings.h"
#include "BenchWindow.h"
#include "BenchWindowMain.h"

namespace {

// Fills in the Add math dialog once it is up and presses OK.
void answerMathDialog(const QString& name, const QString& expression) {
    QTimer::singleShot(0, [name, expression] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        dialog->findChild<QLineEdit*>(QStringLiteral("MathName"))->setText(name);
        dialog->findChild<QLineEdit*>(QStringLiteral("MathExpression"))->setText(expression);
        dialog->accept();
        if (dialog->isVisible()) dialog->reject();  // refused: the test sees it missing
    });
}

}  // namespace

class TstBenchWindowMain : public QObject {
    Q_OBJECT

private slots:
    void init() { QSettings("dmmview", "dmmview").clear(); }

    // Meters on the command line, math added in the window; the window closed and opened again
    // with the same command line has them back, computing, and keeps the list whole.
    void mathAddedInTheWindowComesBack() {
        FedLine voltage(
            "KR31G", dmmsim::SimFunction::Volts, [](int) { return 12.0; }, 50);
        FedLine current(
            "KR31G", dmmsim::SimFunction::MilliAmps, [](int) { return 0.5; }, 50);
        voltage.start();
        current.start();
        AppOptions options;
        options.meters = {"U=KR31G@" + voltage.path(), "I=KR31G@" + current.path()};
        options.maths = {{"Q", "2 * U"}};
        {
            BenchWindowRun run(options);
            QVERIFY2(run.problems().isEmpty(), qPrintable(run.problems().join('\n')));
            run.window().show();
            answerMathDialog("P", "U * I");
            run.window().addMath();
            answerMathDialog("E", "integral(P)");
            run.window().addMath();
            QCOMPARE(run.model().channelIds().size(), 5);
            QCOMPARE(run.finish(0), 0);
        }
        BenchWindowRun run(options);
        QVERIFY2(run.problems().isEmpty(), qPrintable(run.problems().join('\n')));
        BenchModel& model = run.model();
        QStringList names;
        for (const int id : model.channelIds()) names << model.channel(id)->name;
        QCOMPARE(names, QStringList({"U", "I", "P", "E", "Q"}));
        const int p = model.channelId("P");
        QTRY_VERIFY_WITH_TIMEOUT(model.latest(p) && model.latest(p)->hasValue(), 10000);
        QCOMPARE(model.latest(p)->value, 6.0);
        QCOMPARE(model.channel(model.channelId("I"))->source,
                 QString::fromStdString("KR31G@" + current.path()));
        // another math channel added keeps the others
        answerMathDialog("R", "U / I");
        run.window().addMath();
        QSettings file("dmmview", "dmmview");
        QStringList kept;
        for (const auto& m : loadBenchSettings(file).maths) kept << m.name + '=' + m.expression;
        QCOMPARE(kept, QStringList({"P=U * I", "E=integral(P)", "R=U / I"}));
        QCOMPARE(run.finish(0), 0);
    }

    // The digit-frame variant of a meter added in the window is kept with it.
    void variantKept() {
        FedLine line("KR31G", dmmsim::SimFunction::Volts, [](int) { return 1.0; });
        AppOptions options;
        {
            BenchWindowRun run(options);
            QVERIFY(run.session().addLocalMeter({"V", "KR31G", true, line.path()}));
            run.window().onBenchChanged();
            QCOMPARE(run.finish(0), 0);
        }
        BenchWindowRun run(options);
        QCOMPARE(run.session().localMeters().size(), std::size_t(1));
        QVERIFY(run.session().localMeters()[0]->choice().variant);
        QCOMPARE(run.finish(0), 0);
    }
};

QTEST_MAIN(TstBenchWindowMain)
#include "tst_bench_window_main.moc"

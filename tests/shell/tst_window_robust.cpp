// The window when things go wrong: the device vanishes while connected, and a run that ended
// without saving left its rows in the journal.
#include <time.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <fstream>
#include <memory>

#include "../files/TableTestSupport.h"
#include "../serial/PseudoTerminal.h"
#include "ParadoxTable.h"
#include "RecordJournal.h"
#include "TFCOMM.h"
#include "WindowTestSupport.h"
#include "ui_TFCOMM.h"

namespace {

// A segment frame from its 14 hex digits: 1.234 V DC AUTO is "705DB1F2700040".
void sendFrame(const PseudoTerminal& pty, const char* frameHex) {
    std::string bytes;
    for (int i = 0; i < 14; ++i) {
        bytes.push_back(
            static_cast<char>(((i + 1) << 4) | std::stoi(std::string(1, frameHex[i]), nullptr, 16)));
    }
    if (::write(pty.master, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
        qFatal("write");
}

double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

const char* const kJournal = "Kr47bdb.journal";

std::size_t journalRows() {
    return RecordJournal::read(kJournal).rows.size();
}

}  // namespace

class WindowRobust : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

private slots:
    // each test in a directory of its own: the journal lies beside the record table
    void initTestCase() { QVERIFY(QDir::setCurrent(dir_.path())); }
    void vanishingPortIsWaitedFor();
    void leftRowsAreOfferedBack();
    void journalFollowsATableOpenedLater();
};

// The adapter is pulled mid-run (the far side of the pseudo-terminal closes and the device's
// name goes): the window stays connected, shows the link lost, names the port and its device,
// sits idle and tries the name again every second. When a device is back under the same name it
// is read on: a note says when and how long the readings stopped, every reading after the
// return is recorded and journaled, and the chart's line breaks where the readings stopped.
void WindowRobust::vanishingPortIsWaitedFor() {
    auto pty = std::make_unique<PseudoTerminal>();
    QVERIFY(!pty->slavePath.empty());
    const QString link = dir_.filePath(QStringLiteral("ttyMeter"));
    QVERIFY(QFile::link(QString::fromStdString(pty->slavePath), link));
    auto w = makeWindow({"--port", "COM1=" + link.toStdString()});
    w->show();
    w->BTCon1Click();
    QVERIFY(w->COMM2().Connected());
    sendFrame(*pty, "705DB1F2700040");
    QTRY_VERIFY_WITH_TIMEOUT(shown(*w, "CONok"), 2000);

    pty->closeMaster();
    QVERIFY(QFile::remove(link));
    QTRY_VERIFY_WITH_TIMEOUT(!w->COMM2().Connected(), 1000);
    Ui::TFCOMM* ui = w->form();
    // still connected as far as the user is concerned
    QVERIFY(shown(*w, "BtDiscon") && !shown(*w, "BTCon"));
    QVERIFY(!ui->ComSetup1->isEnabled() && !ui->START1->isEnabled());
    QVERIFY(shown(*w, "CONokN") && !shown(*w, "CONok"));
    auto* notice = w->findChild<QMessageBox*>(QStringLiteral("PortLost"));
    QVERIFY(notice);
    QVERIFY2(notice->text().contains(QStringLiteral("COM1")) && notice->text().contains(link),
             qPrintable(notice->text()));
    const QRegularExpression waiting("^waiting for " + QRegularExpression::escape(link) +
                                     " to come back \\(since \\d\\d:\\d\\d:\\d\\d\\)\n");
    QTRY_VERIFY_WITH_TIMEOUT(waiting.match(ui->CONokN->toolTip()).hasMatch(), 1000);

    // no polling of a dead descriptor, one open a second: the process stays near idle
    const double before = cpuSeconds();
    QTest::qWait(1500);
    const double used = cpuSeconds() - before;
    QVERIFY2(used < 0.2, qPrintable(QStringLiteral("%1 s of CPU in 1.5 s").arg(used)));
    QCOMPARE(w->findChildren<QMessageBox*>(QStringLiteral("PortLost")).size(), 1);

    const int64_t rowsBefore = w->recordTable().rowCount();
    const int64_t pointsBefore = w->chartPoints().size();
    pty = std::make_unique<PseudoTerminal>();
    QVERIFY(QFile::link(QString::fromStdString(pty->slavePath), link));
    QTRY_VERIFY_WITH_TIMEOUT(w->COMM2().Connected(), 2500);
    QCOMPARE(w->findChildren<QMessageBox*>(QStringLiteral("PortLost")).size(), 1);
    const QRegularExpression back("^COM1 \\(" + QRegularExpression::escape(link) +
                                  "\\) is back at \\d\\d:\\d\\d:\\d\\d, [1-4] s without readings\\.$");
    QVERIFY2(back.match(notice->text()).hasMatch(), qPrintable(notice->text()));
    QTest::qWait(100);  // the port is set up, which flushes what waits in it
    const uint64_t dropped = w->meterState().DroppedFrames;
    // the reading of before the loss again: a point on the chart, not a new row
    sendFrame(*pty, "705DB1F2700040");
    QTRY_COMPARE_WITH_TIMEOUT(w->chartPoints().size(), pointsBefore + 1, 1000);
    QCOMPARE(w->chartPoints().nextBreak(0), pointsBefore);  // no line across the time away
    sendFrame(*pty, "49F3F3F3F00040");
    sendFrame(*pty, "705DB1F2700040");
    QTRY_VERIFY_WITH_TIMEOUT(shown(*w, "CONok"), 2000);
    QTRY_COMPARE_WITH_TIMEOUT(w->recordTable().rowCount(), rowsBefore + 2, 1000);
    QCOMPARE(w->meterState().ValueText, std::string("1.234"));
    QCOMPARE(w->meterState().DroppedFrames, dropped);
    QVERIFY(!ui->CONok->toolTip().startsWith(QStringLiteral("waiting")));
    QTRY_COMPARE_WITH_TIMEOUT(journalRows(), std::size_t(rowsBefore + 2), 2500);
}

void WindowRobust::leftRowsAreOfferedBack() {
    const auto rows = sampleRows(3);
    for (const auto answer : {QMessageBox::Yes, QMessageBox::No}) {
        {
            RecordJournal left;
            QVERIFY(left.claim(kJournal));
            QVERIFY(left.sync(VectorSource({rows[0], rows[1]})));
        }
        // a damaged entry between them costs only itself
        std::ofstream(kJournal, std::ios::binary | std::ios::app)
            << std::string("\x09\0\0\0damaged!!", 13) << RecordJournal::encodeEntry({rows[2]});
        auto question = answerNextMessageBox(answer);
        auto w = makeWindow();
        QVERIFY2(question->contains(QStringLiteral("3 reading")) &&
                     question->contains(QStringLiteral("skipped: 1")),
                 qPrintable(*question));
        if (answer == QMessageBox::Yes) {
            QCOMPARE(w->recordTable().rowCount(), int64_t(3));
            QCOMPARE(w->recordTable().row(2), rows[2]);
            QVERIFY(w->recordStore().hasUnsavedRows());
            QCOMPARE(w->recordState().RecordNo, rows[2].no + 1);
            // still journaled: a second crash before Save loses nothing
            QCOMPARE(journalRows(), std::size_t(3));
            w->recordStore().fillForTest(2);
            w->TrecordTimer();
            QCOMPARE(journalRows(), std::size_t(5));
        } else {
            QCOMPARE(w->recordTable().rowCount(), int64_t(0));
            QCOMPARE(journalRows(), std::size_t(0));
        }
        w.reset();
        QVERIFY(!QFile::exists(kJournal));
    }
}

// The start-up table cannot be opened (here it is not a table): the first table opened later gets
// the journal, so its recorded rows are kept safe as the start-up table's would be.
void WindowRobust::journalFollowsATableOpenedLater() {
    std::ofstream("Kr47bdb.DB") << "not a table";
    const QString other = dir_.filePath(QStringLiteral("other.db"));
    QVERIFY(ParadoxTable::createEmpty(other).ok());
    auto w = makeWindow();
    QTRY_VERIFY(w->findChild<QMessageBox*>(QStringLiteral("RecordTableError")));
    w->setFileDialogRunner([&](QFileDialog&) { return other; });
    w->SpeedButton2Click();
    w->recordStore().fillForTest(4);
    w->TrecordTimer();
    QCOMPARE(journalRows(), std::size_t(4));
    w.reset();
    QVERIFY(QFile::remove(QStringLiteral("Kr47bdb.DB")));
}

QTEST_MAIN(WindowRobust)
#include "tst_window_robust.moc"

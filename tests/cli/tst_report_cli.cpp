// `--report OUT.pdf TABLE`: the options and the headless runner over a table given in memory.
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <sstream>

#include "AppOptions.h"
#include "ParadoxTable.h"
#include "ReportRunner.h"

namespace {

class Rows : public RecordSource {
public:
    explicit Rows(int n) : n_(n) {}
    int64_t rowCount() const override { return n_; }
    RecordRow row(int64_t i) const override {
        RecordRow r;
        r.no = static_cast<int32_t>(i + 1);
        r.value = "1.234";
        r.unit = "k*";
        r.autoText = "AUTO";
        return r;
    }

private:
    int n_;
};

struct Run {
    int code;
    std::string out;
    std::string err;
};

// Runs the report with a loader that knows one table, "t.db", holding `rows` rows.
Run report(const std::vector<std::string>& args, int rows) {
    const OptionsResult r = parseOptions(args);
    if (!r.error.empty()) return {2, "", r.error};
    const TableLoader load = [rows](const std::string& path) -> LoadedTable {
        if (path != "t.db") return Failure{"no such table"};
        return std::unique_ptr<RecordSource>(std::make_unique<Rows>(rows));
    };
    std::ostringstream out, err;
    const int code = exitStatus(runReport(r.options, load, out, err));
    return {code, out.str(), err.str()};
}

}  // namespace

class ReportCli : public QObject {
    Q_OBJECT

private slots:
    void options_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("error");
        QTest::newRow("both paths") << QStringList{"--report", "o.pdf", "t.db"} << "";
        QTest::newRow("table missing") << QStringList{"--report", "o.pdf"} << "--report OUT.pdf TABLE";
        QTest::newRow("with decode") << QStringList{"--report", "o.pdf", "t.db", "--decode", "-"}
                                     << "cannot be combined";
        QTest::newRow("with demo") << QStringList{"--demo", "--report", "o.pdf", "t.db"}
                                   << "cannot be combined";
    }
    void options() {
        QFETCH(QStringList, args);
        QFETCH(QString, error);
        std::vector<std::string> a;
        for (const QString& s : args) a.push_back(s.toStdString());
        const OptionsResult r = parseOptions(a);
        QVERIFY2(QString::fromStdString(r.error).contains(error), r.error.c_str());
        if (error.isEmpty()) {
            QCOMPARE(*r.options.reportPdf, std::string("o.pdf"));
            QCOMPARE(r.options.reportTable, std::string("t.db"));
        }
    }

    void writesThePdf() {
        QTemporaryDir dir;
        const std::string pdf = dir.filePath("o.pdf").toStdString();
        const Run r = report({"--report", pdf, "t.db"}, 38);
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out, pdf + ": 2 pages, 38 rows\n");
        QFile f(QString::fromStdString(pdf));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QVERIFY(f.read(5) == "%PDF-");
    }

    // Saved tables, read as Open reads them.
    void savedTables_data() {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("said");
        QTest::newRow("three pages") << 80 << 0 << "3 pages, 80 rows";
        QTest::newRow("empty table") << 0 << 1 << "holds no rows";
        QTest::newRow("no table") << -1 << 1 << "missing.db";
    }
    void savedTables() {
        QFETCH(int, rows);
        QFETCH(int, code);
        QFETCH(QString, said);
        QTemporaryDir dir;
        QString table = dir.filePath("missing.db");
        if (rows >= 0) {
            table = dir.filePath("run1.db");
            QVERIFY(ParadoxTable::write(table, Rows(rows)).ok());
        }
        const QString pdf = dir.filePath("r.pdf");
        const OptionsResult o = parseOptions({"--report", pdf.toStdString(), table.toStdString()});
        std::ostringstream out, err;
        QCOMPARE(exitStatus(runReport(o.options, defaultTableLoader(), out, err)), code);
        QVERIFY2(QString::fromStdString(out.str() + err.str()).contains(said),
                 (out.str() + err.str()).c_str());
        QCOMPARE(QFile::exists(pdf), code == 0);
    }

    void refusals_data() {
        QTest::addColumn<QString>("table");
        QTest::addColumn<int>("rows");
        QTest::addColumn<QString>("message");
        QTest::newRow("empty table") << "t.db" << 0 << "holds no rows";
        QTest::newRow("unreadable table") << "x.db" << 5 << "x.db: no such table";
        QTest::newRow("PDF over the table") << "o.pdf" << 5 << "is the table itself";
    }
    void refusals() {
        QFETCH(QString, table);
        QFETCH(int, rows);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const std::string pdf = dir.filePath("o.pdf").toStdString();
        const bool overTable = table == "o.pdf";
        if (overTable) {
            QFile f(QString::fromStdString(pdf));
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write("table") == 5);
        }
        const Run r = report({"--report", pdf, overTable ? pdf : table.toStdString()}, rows);
        QCOMPARE(r.code, 1);
        QVERIFY2(QString::fromStdString(r.err).contains(message), r.err.c_str());
        QFile f(QString::fromStdString(pdf));
        QVERIFY(overTable ? f.open(QIODevice::ReadOnly) && f.readAll() == "table" : !f.exists());
    }
};

QTEST_MAIN(ReportCli)
#include "tst_report_cli.moc"

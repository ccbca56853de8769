// The program as users run it, watched by the clients they use: a simulated meter on a
// pseudo-terminal, `dmmview --decode` serving it, and then a browser, a monitoring server and an
// instrument library each reading the meter's value through the server.
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// The value the simulated meter shows, as its display and the decoded reading have it.
const QString kShown = QStringLiteral("3.217");

QString freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return QString::number(probe.serverPort());
}

QByteArray httpGet(const QString& url) {
    QNetworkAccessManager net;
    QNetworkReply* reply = net.get(QNetworkRequest(QUrl(url)));
    QSignalSpy done(reply, &QNetworkReply::finished);
    done.wait(10000);
    const QByteArray body = reply->readAll();
    reply->deleteLater();
    return body;
}

}  // namespace

class TstServeClients : public QObject {
    Q_OBJECT

    QProcess meter_;
    QProcess program_;
    QString page_;
    QString scpi_;

private slots:
    void initTestCase() {
        meter_.start(DMM_SIM_PROGRAM,
                     {"--pty", "--model", "KR31G", "--scenario", "steady", "--value", kShown});
        QVERIFY(meter_.waitForStarted());
        QTRY_VERIFY(meter_.canReadLine());
        const QString pty = QString::fromLatin1(meter_.readLine()).trimmed();
        QVERIFY2(pty.startsWith("/dev/"), qPrintable(pty));
        program_.start(DMM_PROGRAM, {"--decode", pty, "--model", "KR31G", "--serve", "0", "--scpi", "0"});
        QVERIFY(program_.waitForStarted());
        // the run names its addresses when it starts
        QString said;
        QTRY_VERIFY_WITH_TIMEOUT(
            (said += QString::fromLocal8Bit(program_.readAllStandardError())).count('\n') >= 2, 20000);
        const QRegularExpressionMatch page = QRegularExpression("at (http://\\S+)").match(said);
        const QRegularExpressionMatch scpi = QRegularExpression("\\(SCPI\\) at (\\S+)").match(said);
        QVERIFY2(page.hasMatch() && scpi.hasMatch(), qPrintable(said));
        page_ = page.captured(1);
        scpi_ = scpi.captured(1);
        QTRY_VERIFY_WITH_TIMEOUT(httpGet(page_ + "api/v1/channels").contains("\"value\":3.217"), 20000);
    }

    void cleanupTestCase() {
        program_.terminate();
        program_.waitForFinished(10000);
        meter_.terminate();
        meter_.waitForFinished(10000);
    }

    void browserShowsTheValue() {
        const QString chromium = QStandardPaths::findExecutable("chromium");
        if (chromium.isEmpty()) QSKIP("chromium is not installed (scripts/deps.sh installs it)");
        QTemporaryDir profile;
        // the page is read again until its script has shown a reading from the stream
        auto dom = [&] {
            QProcess browser;
            browser.start(chromium,
                          {"--headless", "--no-sandbox", "--disable-gpu", "--user-data-dir=" + profile.path(),
                           "--virtual-time-budget=3000", "--dump-dom", page_});
            browser.waitForFinished(60000);
            return QString::fromUtf8(browser.readAllStandardOutput());
        };
        const QRegularExpression value(
            "<span class=\"value\" data-channel=\"KR31G\" data-value=\"([^\"]*)\">([^<]*)</span>");
        QRegularExpressionMatch shown;
        QTRY_VERIFY_WITH_TIMEOUT((shown = value.match(dom())).hasMatch(), 120000);
        QCOMPARE(shown.captured(2), kShown);
        QCOMPARE(shown.captured(1).toDouble(), kShown.toDouble());
    }

    void prometheusScrapesTheValue() {
        const QString prometheus = QStandardPaths::findExecutable("prometheus");
        if (prometheus.isEmpty()) QSKIP("prometheus is not installed (scripts/deps.sh installs it)");
        QTemporaryDir dir;
        const QUrl target(page_);
        QFile config(dir.filePath("prometheus.yml"));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write(QStringLiteral("global:\n  scrape_interval: 1s\n  scrape_timeout: 1s\n"
                                    "scrape_configs:\n  - job_name: dmmview\n    static_configs:\n"
                                    "      - targets: ['127.0.0.1:%1']\n")
                         .arg(target.port())
                         .toUtf8());
        config.close();
        const QString port = freePort();
        QProcess server;
        server.start(prometheus,
                     {"--config.file=" + config.fileName(), "--storage.tsdb.path=" + dir.filePath("data"),
                      "--web.listen-address=127.0.0.1:" + port});
        QVERIFY(server.waitForStarted());
        const QString query = "http://127.0.0.1:" + port + "/api/v1/query?query=dmmview_reading";
        QJsonArray result;
        QTRY_VERIFY_WITH_TIMEOUT(
            !(result =
                  QJsonDocument::fromJson(httpGet(query)).object()["data"].toObject()["result"].toArray())
                 .isEmpty(),
            60000);
        const QJsonObject sample = result.first().toObject();
        QCOMPARE(sample["metric"].toObject()["unit"].toString(), QString("V"));
        QCOMPARE(sample["metric"].toObject()["acdc"].toString(), QString("DC"));
        QCOMPARE(sample["metric"].toObject()["channel"].toString(), QString("KR31G"));
        QCOMPARE(sample["value"].toArray()[1].toString(), kShown);
        server.terminate();
        server.waitForFinished(10000);
    }

    void instrumentLibraryReadsTheValue() {
        QProcess check;
        check.start("python3", {"-c", "import pyvisa, pyvisa_py"});
        if (!check.waitForFinished(30000) || check.exitCode() != 0)
            QSKIP("python3-pyvisa-py is not installed (scripts/deps.sh installs it)");
        const QString host = scpi_.section(':', 0, -2);
        const QString port = scpi_.section(':', -1);
        const QString script = QStringLiteral(
                                   "import pyvisa\n"
                                   "rm = pyvisa.ResourceManager('@py')\n"
                                   "i = rm.open_resource('TCPIP::%1::%2::SOCKET', read_termination='\\n',"
                                   " write_termination='\\n', timeout=10000)\n"
                                   "print(i.query('*IDN?'))\n"
                                   "print(i.query('READ?'))\n"
                                   "i.write('VOLTage:BOGus 5')\n"
                                   "print(i.query('SYSTem:ERRor?'))\n"
                                   "print(i.query('SYSTem:ERRor?'))\n"
                                   "i.close()\n")
                                   .arg(host, port);
        QProcess python;
        python.start("python3", {"-c", script});
        QVERIFY(python.waitForFinished(60000));
        const QStringList lines =
            QString::fromUtf8(python.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        QVERIFY2(lines.size() == 4, qPrintable(python.readAllStandardError()));
        QVERIFY2(lines[0].startsWith("dmmview,KR31G,/dev/"), qPrintable(lines[0]));
        QCOMPARE(lines[1], kShown);
        QCOMPARE(lines[2], QString("-113,\"Undefined header\""));
        QCOMPARE(lines[3], QString("0,\"No error\""));
    }
};

QTEST_GUILESS_MAIN(TstServeClients)
#include "tst_serve_clients.moc"

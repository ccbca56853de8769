// The serving options on the command line: where the servers listen, and the refusals of what
// would expose the meter without a token or serve nothing.
#include <QtTest>

#include "AppOptions.h"

class TstServeOptions : public QObject {
    Q_OBJECT

private slots:
    void options_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("page");   // the page's endpoint, "" for none
        QTest::addColumn<QString>("scpi");   // the instrument port's endpoint, "" for none
        QTest::addColumn<QString>("error");  // the start of the error, "" for none
        const QStringList decode{"--decode", "capture.bin"};
        QTest::newRow("port alone is loopback") << decode + QStringList{"--serve", "8080"} << "127.0.0.1:8080"
                                                << ""
                                                << "";
        QTest::newRow("port 0 lets the system pick") << decode + QStringList{"--serve", "0"} << "127.0.0.1:0"
                                                     << ""
                                                     << "";
        QTest::newRow("IPv6 loopback") << decode + QStringList{"--serve", "[::1]:8080"} << "[::1]:8080"
                                       << ""
                                       << "";
        QTest::newRow("localhost") << decode + QStringList{"--serve", "localhost:8080"} << "localhost:8080"
                                   << ""
                                   << "";
        QTest::newRow("all addresses without a token")
            << decode + QStringList{"--serve", "0.0.0.0:8080"} << ""
            << ""
            << "--serve 0.0.0.0:8080 is reachable from other computers: give --serve-token FILE";
        QTest::newRow("a LAN address without a token")
            << decode + QStringList{"--serve", "192.168.1.20:80"} << ""
            << ""
            << "--serve 192.168.1.20:80 is reachable from other computers";
        QTest::newRow("all addresses with a token")
            << decode + QStringList{"--serve", "0.0.0.0:8080", "--serve-token", "token.txt"} << "0.0.0.0:8080"
            << ""
            << "";
        QTest::newRow("token without serve") << decode + QStringList{"--serve-token", "t"} << ""
                                             << ""
                                             << "--serve-token needs --serve";
        QTest::newRow("instrument port") << decode + QStringList{"--scpi", "5025"} << ""
                                         << "127.0.0.1:5025"
                                         << "";
        QTest::newRow("both") << decode + QStringList{"--scpi", "5025", "--serve", "8080"} << "127.0.0.1:8080"
                              << "127.0.0.1:5025"
                              << "";
        QTest::newRow("port too large") << decode + QStringList{"--serve", "65536"} << ""
                                        << ""
                                        << "--serve: '65536' is not a port number";
        QTest::newRow("not a port") << decode + QStringList{"--scpi", "host:"} << ""
                                    << ""
                                    << "--scpi: '' is not a port number";
        QTest::newRow("bare IPv6") << decode + QStringList{"--serve", "::1:80"} << ""
                                   << ""
                                   << "--serve needs [HOST:]PORT";
        QTest::newRow("no value") << decode + QStringList{"--serve"} << ""
                                  << ""
                                  << "--serve needs a value";
        QTest::newRow("nothing to serve") << QStringList{"--recover", "j", "out.csv", "--serve", "80"} << ""
                                          << ""
                                          << "--serve and --scpi need readings";
        QTest::newRow("bench without a window serves")
            << QStringList{"--meter", "U=KR31G@/dev/ttyUSB0", "--serve", "80"} << "127.0.0.1:80"
            << ""
            << "";
    }

    void options() {
        QFETCH(QStringList, args);
        QFETCH(QString, page);
        QFETCH(QString, scpi);
        QFETCH(QString, error);
        std::vector<std::string> list;
        for (const QString& a : args) list.push_back(a.toStdString());
        const OptionsResult r = parseOptions(list);
        QVERIFY2(QString::fromStdString(r.error).startsWith(error), r.error.c_str());
        if (!error.isEmpty()) {
            QVERIFY(r.error.find('\n') == std::string::npos);
            return;
        }
        QCOMPARE(r.options.serve.http ? QString::fromStdString(r.options.serve.http->text()) : QString(),
                 page);
        QCOMPARE(r.options.serve.scpi ? QString::fromStdString(r.options.serve.scpi->text()) : QString(),
                 scpi);
        if (args.contains("--meter")) QVERIFY(r.options.benchHeadless());
    }
};

QTEST_GUILESS_MAIN(TstServeOptions)
#include "tst_serve_options.moc"

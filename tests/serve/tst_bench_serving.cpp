// The bench served: its readings as a meter's (the number in the displayed unit from the one in
// the base unit), and every channel of the model, those added later too, on the API and the
// instrument port.
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTcpSocket>
#include <QtTest>

#include "BenchModel.h"
#include "BenchServing.h"

class TstBenchServing : public QObject {
    Q_OBJECT

private slots:
    void asMeterReading_data() {
        QTest::addColumn<QString>("display");
        QTest::addColumn<double>("base");
        QTest::addColumn<QString>("baseUnit");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("unit");
        QTest::addColumn<double>("value");
        QTest::newRow("milliamps") << "500.0 mA" << 0.5 << "A"
                                   << "500.0"
                                   << "mA" << 500.0;
        QTest::newRow("kilohms") << "4.700 k\u03A9" << 4700.0 << "\u03A9"
                                 << "4.700"
                                 << "k\u03A9" << 4.7;
        QTest::newRow("microfarads") << "2.20 \u00B5F" << 2.2e-6 << "F"
                                     << "2.20"
                                     << "\u00B5F" << 2.2;
        QTest::newRow("watt hours of a math channel") << "16.67 mWh" << 0.01667 << "Wh"
                                                      << "16.67"
                                                      << "mWh" << 16.67;
        QTest::newRow("degrees") << "21.5 \u00B0C" << 21.5 << "\u00B0C"
                                 << "21.5"
                                 << "\u00B0C" << 21.5;
        QTest::newRow("no unit") << "12" << 12.0 << ""
                                 << "12"
                                 << "" << 12.0;
    }

    void asMeterReading() {
        QFETCH(QString, display);
        QFETCH(double, base);
        QFETCH(QString, baseUnit);
        QFETCH(QString, shown);
        QFETCH(QString, unit);
        QFETCH(double, value);
        BenchReading r;
        r.timeMs = 1765000000123;
        r.display = display;
        r.value = base;
        r.unit = baseUnit;
        r.acdc = "AC";
        const MeterReading m = benchMeterReading(r, "KR31G");
        QCOMPARE(QString::fromStdString(m.display), shown);
        QCOMPARE(QString::fromStdString(m.unit), unit);
        QCOMPARE(QString::fromStdString(m.baseUnit), baseUnit);
        QVERIFY(qAbs(m.value - value) <= 1e-12 * qAbs(value));
        QCOMPARE(m.baseValue, base);
        QCOMPARE(m.utcUs, int64_t(1765000000123000));
        QCOMPARE(m.acdc, std::string("AC"));
    }

    void everyChannelServed() {
        BenchModel model;
        const int u = model.addMeter("U", "KR31G@/dev/ttyUSB0");
        const int i = model.addMeter("I", "KR31E@/dev/ttyUSB1");
        ServeRequest request;
        request.http = ServeEndpoint{"127.0.0.1", 0};
        request.scpi = ServeEndpoint{"127.0.0.1", 0};
        std::string error;
        auto serving = BenchServing::start(model, request, error);
        QVERIFY2(serving, error.c_str());
        QVERIFY(model.addMath("P", "U*I").id >= 0);
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        BenchReading volts{now, 12.0, "V", "12.00 V", "DC", "AUTO", false};
        BenchReading amps{now, 0.5, "A", "500.0 mA", "DC", "AUTO", false};
        model.addReading(u, volts);
        model.addReading(i, amps);

        QNetworkAccessManager net;
        QJsonArray channels;
        QTRY_VERIFY([&] {
            QNetworkReply* reply = net.get(QNetworkRequest(
                QUrl(QString::fromStdString(serving->server().pageAddress()) + "api/v1/channels")));
            QSignalSpy done(reply, &QNetworkReply::finished);
            done.wait(5000);
            channels = QJsonDocument::fromJson(reply->readAll()).object()["channels"].toArray();
            reply->deleteLater();
            return channels.size() == 3 && !channels[2].toObject()["latest"].isNull();
        }());
        QCOMPARE(channels[0].toObject()["model"].toString(), QString("KR31G"));
        QCOMPARE(channels[0].toObject()["device"].toString(), QString("/dev/ttyUSB0"));
        QCOMPARE(channels[1].toObject()["latest"].toObject()["value"].toDouble(), 500.0);
        QCOMPARE(channels[1].toObject()["latest"].toObject()["unit"].toString(), QString("mA"));
        QCOMPARE(channels[2].toObject()["kind"].toString(), QString("math"));
        QCOMPARE(channels[2].toObject()["unit"].toString(), QString("W"));

        const QString scpi = QString::fromStdString(serving->server().scpiAddress());
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, quint16(scpi.section(':', -1).toUInt()));
        QVERIFY(socket.waitForConnected(10000));
        socket.write("CHAN P;READ?;CHAN?\nCHAN I\nMEAS:CURR?\n");
        QByteArray answers;
        while (answers.count('\n') < 2 && socket.waitForReadyRead(10000)) answers += socket.readAll();
        QCOMPARE(answers, QByteArray("6;\"P\"\n0.5\n"));
    }
};

QTEST_GUILESS_MAIN(TstBenchServing)
#include "tst_bench_serving.moc"

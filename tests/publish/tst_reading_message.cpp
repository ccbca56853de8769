// A reading as JSON and back, without a broker: the bytes subscribers and files rely on, the
// typed reading a message gives, the times it carries, and what a careless or hostile sender's
// message is refused for.
#include <QDateTime>
#include <QTest>
#include <QTimeZone>

#include "MeterState.h"
#include "ReadingMessage.h"

namespace {

MeterState state(const char* value, const char* unit, const char* acdc, const char* range, float counts) {
    MeterState s;
    s.ValueText = value;
    s.UnitText = unit;
    s.AcDcText = acdc;
    s.AutoText = range;
    s.NumericValue = counts;
    return s;
}

qint64 msOf(const char* iso) {
    return QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODateWithMs).toMSecsSinceEpoch();
}

using Fault = ReceivedReading::Fault;

}  // namespace

class ReadingMessageTest : public QObject {
    Q_OBJECT

private slots:
    // The published bytes, from the form's state and from the typed reading alike.
    void publishedBytes_data() {
        QTest::addColumn<QString>("valueText");
        QTest::addColumn<QString>("lcdUnit");
        QTest::addColumn<QString>("acdc");
        QTest::addColumn<double>("counts");
        QTest::addColumn<QByteArray>("json");
        const QByteArray t = "\"time\":\"2026-12-07T14:31:53.123+01:00\",";
        QTest::newRow("negative kilo-ohm") << "-1.234"
                                           << "k*"
                                           << "DC" << -1234.0
                                           << "{\"seq\":7," + t +
                                                  "\"display\":\"-1.234\",\"value\":-1.234,\"unit\":\"kΩ\","
                                                  "\"acdc\":\"DC\",\"range\":\"AUTO\","
                                                  "\"overload\":false,\"counts\":-1234,\"model\":\"KR31G\"}";
        QTest::newRow("leading and trailing zeros")
            << "02.50"
            << "mA"
            << "AC" << 250.0
            << "{\"seq\":7," + t +
                   "\"display\":\"02.50\",\"value\":2.5,\"unit\":\"mA\",\"acdc\":\"AC\",\"range\":\"AUTO\","
                   "\"overload\":false,\"counts\":250,\"model\":\"KR31G\"}";
        QTest::newRow("overload")
            << "0.L"
            << "M*"
            << "" << 4000.0
            << "{\"seq\":7," + t +
                   "\"display\":\"0.L\",\"value\":null,\"unit\":\"MΩ\",\"acdc\":\"\",\"range\":\"AUTO\","
                   "\"overload\":true,\"counts\":4000,\"model\":\"KR31G\"}";
        QTest::newRow("degrees")
            << "21.5"
            << "#"
            << "" << 215.0
            << "{\"seq\":7," + t +
                   "\"display\":\"21.5\",\"value\":21.5,\"unit\":\"°C\",\"acdc\":\"\",\"range\":\"AUTO\","
                   "\"overload\":false,\"counts\":215,\"model\":\"KR31G\"}";
    }
    void publishedBytes() {
        QFETCH(QString, valueText);
        QFETCH(QString, lcdUnit);
        QFETCH(QString, acdc);
        QFETCH(double, counts);
        QFETCH(QByteArray, json);
        const std::string time = "2026-12-07T14:31:53.123+01:00";
        const MeterState s = state(valueText.toUtf8().constData(), lcdUnit.toUtf8().constData(),
                                   acdc.toUtf8().constData(), "AUTO", float(counts));
        QCOMPARE(readingJson(7, time, s, "KR31G"), json);
        // the typed reading a message gives is published as the same bytes again
        const ReceivedReading back = parseReadingJson(json);
        QCOMPARE(int(back.fault), int(Fault::None));
        QCOMPARE(readingJson(*back.seq, back.time, back.reading), json);
    }

    // What a received message becomes: the number in its unit and in the base unit, the
    // overload, the time in UTC.
    void typedReadingFromAMessage() {
        const ReceivedReading r = parseReadingJson(
            "{\"seq\":3,\"time\":\"2026-12-07T14:31:53.5-05:30\",\"display\":\"2.50\",\"value\":2.5,\"unit\":"
            "\"mA\","
            "\"acdc\":\"DC\",\"range\":\"MANU\",\"overload\":false,\"counts\":250,\"model\":\"KR31G\"}");
        QCOMPARE(int(r.fault), int(Fault::None));
        QCOMPARE(*r.seq, uint64_t(3));
        QCOMPARE(r.reading.utcUs, msOf("2026-12-07T20:01:53.500Z") * 1000);
        QCOMPARE(r.reading.value, 2.5);
        QCOMPARE(r.reading.baseValue, 0.0025);
        QCOMPARE(r.reading.baseUnit, std::string("A"));
        QCOMPARE(r.reading.lcdUnit, std::string("mA"));
        QCOMPARE(r.reading.range, std::string("MANU"));
        QVERIFY(!r.reading.overload);
        const ReceivedReading over = parseReadingJson(
            "{\"seq\":4,\"time\":\"2026-12-07T14:31:53Z\",\"display\":\"0.L\",\"value\":null,\"unit\":\"kΩ\","
            "\"overload\":true}");
        QCOMPARE(int(over.fault), int(Fault::None));
        QVERIFY(over.reading.overload);
        QVERIFY(!over.reading.hasNumber());
        QCOMPARE(over.reading.baseUnit, std::string("\u03A9"));
        QCOMPARE(over.reading.lcdUnit, std::string("k*"));
    }

    void isoTimes_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("utc");  // empty: refused
        QTest::newRow("east of UTC") << "2026-12-07T14:31:53.123+01:00"
                                     << "2026-12-07T13:31:53.123Z";
        QTest::newRow("west of UTC") << "2026-12-07T14:31:53.123-05:30"
                                     << "2026-12-07T20:01:53.123Z";
        QTest::newRow("one digit of fraction") << "2026-12-07T14:31:53.5Z"
                                               << "2026-12-07T14:31:53.500Z";
        QTest::newRow("two digits") << "2026-12-07T14:31:53.05+00:00"
                                    << "2026-12-07T14:31:53.050Z";
        QTest::newRow("beyond milliseconds") << "2026-12-07T14:31:53.123456Z"
                                             << "2026-12-07T14:31:53.123Z";
        QTest::newRow("no fraction, no offset") << "2026-12-07T14:31:53"
                                                << "2026-12-07T14:31:53.000Z";
        QTest::newRow("over midnight") << "2026-01-01T00:30:00.000+01:00"
                                       << "2025-12-31T23:30:00.000Z";
        QTest::newRow("leap day") << "2024-02-29T12:00:00Z"
                                  << "2024-02-29T12:00:00.000Z";
        QTest::newRow("no leap day") << "2026-02-29T12:00:00Z"
                                     << "";
        QTest::newRow("February 30th") << "2026-02-30T12:00:00Z"
                                       << "";
        QTest::newRow("month 13") << "2026-13-01T12:00:00Z"
                                  << "";
        QTest::newRow("hour 24") << "2026-12-07T24:00:00Z"
                                 << "";
        QTest::newRow("minute 60") << "2026-12-07T14:60:00Z"
                                   << "";
        QTest::newRow("lone point") << "2026-12-07T14:31:53.Z"
                                    << "";
        QTest::newRow("trailing text") << "2026-12-07T14:31:53Zjunk"
                                       << "";
        QTest::newRow("offset without minutes") << "2026-12-07T14:31:53+01"
                                                << "";
        QTest::newRow("not a date") << "yesterday at noon, roughly"
                                    << "";
    }
    void isoTimes() {
        QFETCH(QString, text);
        QFETCH(QString, utc);
        const std::optional<int64_t> ms = parseIsoTime(text.toStdString());
        if (utc.isEmpty()) {
            QVERIFY2(!ms, qPrintable(QString::number(ms.value_or(0))));
        } else {
            QVERIFY(ms);
            QCOMPARE(*ms, msOf(utc.toLatin1().constData()));
        }
    }

    // What a careless or hostile sender gets refused for, each said apart.
    void refusedMessages_data() {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<int>("fault");
        const QByteArray t = "\"time\":\"2026-12-07T14:31:53Z\"";
        QTest::newRow("fine") << "{" + t + ",\"value\":1}" << int(Fault::None);
        QTest::newRow("10 kB") << "{" + t + ",\"value\":1,\"x\":\"" + QByteArray(10000, 'x') + "\"}"
                               << int(Fault::TooLarge);
        QTest::newRow("cut off") << "{" + t + ",\"value\":" << int(Fault::NotJson);
        QTest::newRow("an array") << QByteArray("[1,2]") << int(Fault::NotJson);
        QTest::newRow("nested deep") << QByteArray(2000, '[') << int(Fault::NotJson);
        QTest::newRow("NaN") << "{" + t + ",\"value\":NaN}" << int(Fault::NotJson);
        QTest::newRow("beyond double") << "{" + t + ",\"value\":1e999}" << int(Fault::NotJson);
        QTest::newRow("not UTF-8") << "{" + t + ",\"value\":1,\"unit\":\"\xff\"}" << int(Fault::NotJson);
        QTest::newRow("value as text") << "{" + t + ",\"value\":\"1\"}" << int(Fault::BadNumber);
        QTest::newRow("negative seq") << "{" + t + ",\"value\":1,\"seq\":-1}" << int(Fault::BadNumber);
        QTest::newRow("control in unit")
            << "{" + t + ",\"value\":1,\"unit\":\"V\\n2026,fake\"}" << int(Fault::BadText);
        QTest::newRow("C1 control") << "{" + t + ",\"value\":1,\"unit\":\"V\xc2\x85\"}"
                                    << int(Fault::BadText);
        QTest::newRow("long display")
            << "{" + t + ",\"value\":1,\"display\":\"" + QByteArray(65, '8') + "\"}" << int(Fault::BadText);
        QTest::newRow("unit not text") << "{" + t + ",\"value\":1,\"unit\":5}" << int(Fault::BadText);
        QTest::newRow("no time") << QByteArray("{\"value\":1}") << int(Fault::NotAReading);
        QTest::newRow("neither number nor overload") << "{" + t + "}" << int(Fault::NotAReading);
        QTest::newRow("year 9999 is a time")
            << QByteArray("{\"time\":\"9999-12-31T23:59:59Z\",\"value\":1}") << int(Fault::None);
        QTest::newRow("invalid date")
            << QByteArray("{\"time\":\"2026-02-31T00:00:00Z\",\"value\":1}") << int(Fault::BadTime);
    }
    void refusedMessages() {
        QFETCH(QByteArray, payload);
        QTEST(int(parseReadingJson(payload).fault), "fault");
    }
};

QTEST_GUILESS_MAIN(ReadingMessageTest)
#include "tst_reading_message.moc"

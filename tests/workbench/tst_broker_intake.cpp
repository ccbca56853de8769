// What the bench takes from a broker's messages, without a broker: names from outside made
// safe, duplicates and older readings dropped, far times kept at the arrival, the bound of
// meters, and what a careless or hostile sender is refused for.
#include <QDateTime>
#include <QTest>
#include <QTimeZone>

#include "BenchModel.h"
#include "BrokerIntake.h"

namespace {

constexpr qint64 kNow = 1796000000000;  // 2026-11-30, the arrival of every message below

// A reading message of `seq` dated `offsetMs` from the arrival.
QByteArray reading(int seq, qint64 offsetMs, const char* value = "1.5", bool overload = false) {
    const QString time = QDateTime::fromMSecsSinceEpoch(kNow + offsetMs, Qt::UTC).toString(Qt::ISODateWithMs);
    return QStringLiteral(
               "{\"seq\":%1,\"time\":\"%2\",\"display\":\"%3\",\"value\":%4,\"unit\":\"mV\","
               "\"overload\":%5}")
        .arg(seq)
        .arg(time, overload ? "0.L" : value, overload ? "null" : value, overload ? "true" : "false")
        .toUtf8();
}

using Kind = BrokerIntake::Outcome::Kind;

}  // namespace

class BrokerIntakeTest : public QObject {
    Q_OBJECT

private slots:
    void namesFromOutside_data() {
        QTest::addColumn<QByteArray>("client");
        QTest::addColumn<QString>("shown");
        QTest::newRow("plain word") << QByteArray("U") << "U";
        QTest::newRow("default name") << QByteArray("KR31G-ttyUSB0@bench") << "KR31G-ttyUSB0@bench";
        QTest::newRow("quotes and commas") << QByteArray("a \"b\", c") << "a \"b\", c";
        QTest::newRow("UTF-8") << QByteArray("Prüfplatz µ") << "Prüfplatz µ";
        QTest::newRow("brackets and equals") << QByteArray("a[1]=b") << "a\\x5B1\\x5D\\x3Db";
        QTest::newRow("backslash") << QByteArray("a\\x41") << "a\\x5Cx41";
        QTest::newRow("line break") << QByteArray("U\n2026-12-07,fake") << "U\\x0A2026-12-07,fake";
        QTest::newRow("tab and DEL") << QByteArray("\tU\x7f") << "\\x09U\\x7F";
        QTest::newRow("C1 control") << QByteArray("U\xc2\x85V") << "U\\u0085V";
        QTest::newRow("spaces at the ends") << QByteArray(" U ") << "\\x20U\\x20";
        QTest::newRow("not UTF-8") << QByteArray("U\xff") << "U\\xFF";
        QTest::newRow("empty") << QByteArray("") << "(empty)";
    }
    void namesFromOutside() {
        QFETCH(QByteArray, client);
        QFETCH(QString, shown);
        const QString name = BrokerIntake::shownName(client.toStdString());
        QCOMPARE(name, shown);
        // every one of them can name a channel
        BenchModel model;
        QVERIFY2(model.checkNewName(name).isEmpty(), qPrintable(model.checkNewName(name)));
    }

    // Long names are cut, and stay apart where they differ only beyond the cut.
    void longNamesStayApart() {
        const std::string a = std::string(200, 'a') + "1", b = std::string(200, 'a') + "2";
        const QString shownA = BrokerIntake::shownName(a), shownB = BrokerIntake::shownName(b);
        QVERIFY(shownA != shownB);
        QVERIFY(shownA.toUtf8().size() <= int(BrokerIntake::kMaxNameBytes));
        // a cut never splits a character: 41 bytes before two-byte ones put the cut inside one
        const std::string umlauts = std::string(41, 'x') + QString(40, QChar(0xFC)).toStdString();
        const QByteArray cut = BrokerIntake::shownName(umlauts).toUtf8();
        QCOMPARE(QString::fromUtf8(cut).toUtf8(), cut);
        QVERIFY(!QString::fromUtf8(cut).contains(QChar::ReplacementCharacter));
        QVERIFY(cut.startsWith(QByteArray(41, 'x') + "\xc3\xbc"));
    }

    // One meter's messages in the order they arrive, and what each becomes.
    void messagesInOrder_data() {
        QTest::addColumn<QVector<QByteArray>>("payloads");  // "status:..." or a reading
        QTest::addColumn<QString>("kinds");                 // S status, R reading, - nothing, x refused
        QTest::addColumn<QVector<qint64>>("times");         // the readings' times taken, from the arrival
        QTest::newRow("in order") << QVector<QByteArray>{reading(1, -300), reading(2, -200), reading(3, -100)}
                                  << "RRR" << QVector<qint64>{-300, -200, -100};
        QTest::newRow("sent again") << QVector<QByteArray>{reading(1, -300), reading(2, -200),
                                                           reading(2, -200), reading(3, -100)}
                                    << "RRxR" << QVector<qint64>{-300, -200, -100};
        QTest::newRow("older after newer")
            << QVector<QByteArray>{reading(1, -300), reading(3, -100), reading(2, -200)} << "RRx"
            << QVector<qint64>{-300, -100};
        QTest::newRow("publisher started again")
            << QVector<QByteArray>{reading(1, -300), reading(2, -200), reading(1, -100), reading(2, -50)}
            << "RRRR" << QVector<qint64>{-300, -200, -100, -50};
        QTest::newRow("overload taken") << QVector<QByteArray>{reading(1, -300), reading(2, -200, "", true)}
                                        << "RR" << QVector<qint64>{-300, -200};
        QTest::newRow("queued at the broker for half an hour")
            << QVector<QByteArray>{reading(1, -1800000), reading(2, -1799000)} << "RR"
            << QVector<qint64>{-1800000, -1799000};
        QTest::newRow("far future kept at arrival")
            << QVector<QByteArray>{reading(1, 3 * 60000), reading(2, 86400000LL * 365 * 100)} << "RR"
            << QVector<qint64>{0, 0};
        QTest::newRow("far past kept at arrival")
            << QVector<QByteArray>{reading(1, -2 * 3600000)} << "R" << QVector<qint64>{0};
        QTest::newRow("status once per change")
            << QVector<QByteArray>{"status:online", "status:online", "status:offline", "status:offline",
                                   "status:online"}
            << "S-S-S" << QVector<qint64>{};
        QTest::newRow("offline of a meter never seen")
            << QVector<QByteArray>{"status:offline"} << "-" << QVector<qint64>{};
        QTest::newRow("status neither")
            << QVector<QByteArray>{"status:maybe", "status:" + QByteArray(5000, 'x')} << "xx"
            << QVector<qint64>{};
        QTest::newRow("NaN and junk refused")
            << QVector<QByteArray>{"{\"time\":\"2026-11-30T00:00:00Z\",\"value\":NaN}", "not json",
                                   reading(1, -100)}
            << "xxR" << QVector<qint64>{-100};
    }
    void messagesInOrder() {
        QFETCH(QVector<QByteArray>, payloads);
        QFETCH(QString, kinds);
        QFETCH(QVector<qint64>, times);
        BrokerIntake intake("lab");
        QString got;
        QVector<qint64> taken;
        for (const QByteArray& p : payloads) {
            const bool status = p.startsWith("status:");
            const auto o =
                intake.take(status ? "lab/m1/status" : "lab/m1/reading", status ? p.mid(7) : p, kNow);
            got += o.kind == Kind::Status    ? 'S'
                   : o.kind == Kind::Reading ? 'R'
                   : o.kind == Kind::Refused ? 'x'
                                             : '-';
            if (o.kind == Kind::Reading) taken << o.reading.utcUs / 1000 - kNow;
        }
        QCOMPARE(got, kinds);
        QCOMPARE(taken, times);
        // every message not taken is counted once, under one heading
        const auto& c = intake.counts();
        const uint64_t notTaken = got.count('x');
        QCOMPARE(c.duplicates + c.older + c.refusedTotal(), notTaken);
        QCOMPARE(c.readings, uint64_t(got.count('R')));
    }

    // A status that flaps is followed each time and said once.
    void flappingStatus() {
        BrokerIntake intake("lab");
        int changes = 0, said = 0;
        for (int i = 0; i < 100; ++i) {
            const auto o = intake.take("lab/m/status", i % 2 ? "offline" : "online", kNow + i * 100);
            changes += o.kind == Kind::Status;
            said += o.flapping;
        }
        QCOMPARE(changes, 100);
        QCOMPARE(said, 1);
        // slower than that is no flapping
        BrokerIntake calm("lab");
        for (int i = 0; i < 100; ++i)
            said += calm.take("lab/m/status", i % 2 ? "offline" : "online", kNow + i * 5000).flapping;
        QCOMPARE(said, 1);
    }

    // Meters beyond the bound are counted, not kept; topics of other shapes are refused.
    void boundOfMetersAndTopics() {
        BrokerIntake intake("lab/x");
        for (std::size_t i = 0; i < BrokerIntake::kMaxMeters + 50; ++i) {
            const std::string client = "m" + std::to_string(i);
            intake.take("lab/x/" + client + "/status", "online", kNow);
            intake.take("lab/x/" + client + "/reading", reading(1, -10), kNow);
        }
        QCOMPARE(intake.meters(), BrokerIntake::kMaxMeters);
        QCOMPARE(intake.counts().beyondMeters, uint64_t(100));
        QCOMPARE(intake.counts().readings, uint64_t(BrokerIntake::kMaxMeters));
        const char* others[] = {"lab/x/a/b/reading", "lab/x/m1/alarm", "lab/y/m1/reading", "lab/x/reading",
                                "lab/xm1/reading"};
        for (const char* topic : others)
            QVERIFY2(intake.take(topic, reading(2, -5), kNow).kind == Kind::Refused, topic);
        QCOMPARE(intake.counts().badTopic, uint64_t(std::size(others)));
        QVERIFY(intake.refusalSummary().find("100 messages of meters beyond 100") != std::string::npos);
    }
};

QTEST_GUILESS_MAIN(BrokerIntakeTest)
#include "tst_broker_intake.moc"

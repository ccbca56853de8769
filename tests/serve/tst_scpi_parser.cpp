// The instrument protocol, a line in and an answer out, over two channels whose readings are
// known: what each query answers, which errors land in the queue, and that reading the queue
// empties it.
#include <QtTest>

#include "ScpiParser.h"
#include "ServeTestSupport.h"
#include "ServedChannels.h"

class TstScpiParser : public QObject {
    Q_OBJECT

    struct Bench {
        ServedChannels channels;
        ScpiParser parser{channels, "9.9"};
        Bench() {
            const int u = channels.addChannel("U", ServedKind::Meter, "KR31G", "/dev/ttyUSB0");
            const int i = channels.addChannel("I", ServedKind::Meter, "KR31E", "/dev/ttyUSB1");
            channels.reading(u, servedReading("1.234", "V", "V", 1));
            channels.reading(i, servedReading("250.0", "mA", "A", 1e-3, "AC"));
        }
    };

private slots:
    // Each row is a dialogue: the lines sent in turn and the answer to each ("" for none).
    void dialogue_data() {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QStringList>("answers");
        const QString noError = "0,\"No error\"";
        QTest::newRow("identity names the program, model and device")
            << QStringList{"*IDN?"} << QStringList{"dmmview,KR31G,/dev/ttyUSB0,9.9"};
        QTest::newRow("read and fetch, any case and form")
            << QStringList{"READ?", "FETC?", "fetch?", ":read?"}
            << QStringList{"1.234", "1.234", "1.234", "1.234"};
        QTest::newRow("measure in the meter's function")
            << QStringList{"MEAS:VOLT:DC?", "MEASure:VOLTage?", "MEAS?", "MEAS:SCAL:VOLT? DEF,DEF",
                           "SYST:ERR?"}
            << QStringList{"1.234", "1.234", "1.234", "1.234", noError};
        QTest::newRow("measure in another function is an error")
            << QStringList{"MEAS:CURR?", "SYST:ERR?", "MEAS:VOLT:AC?", "SYST:ERR?"}
            << QStringList{"", "-221,\"Settings conflict;the meter measures VOLT:DC\"", "",
                           "-221,\"Settings conflict;the meter measures VOLT:DC\""};
        QTest::newRow("a range asked of measure would set the meter")
            << QStringList{"MEAS:VOLT? 10,0.001", "SYST:ERR?"}
            << QStringList{"", "-221,\"Settings conflict;the meter is set at its own switch\""};
        QTest::newRow("undefined header, then the queue is empty")
            << QStringList{"FOO:BAR?", "SYST:ERR?", "SYSTem:ERRor:NEXT?"}
            << QStringList{"", "-113,\"Undefined header\"", noError};
        QTest::newRow("errors come out oldest first")
            << QStringList{"FOO", "READ? 5", "SYST:ERR:COUN?", "SYST:ERR?", "SYST:ERR?", "SYST:ERR:COUN?"}
            << QStringList{"", "", "2", "-113,\"Undefined header\"", "-108,\"Parameter not allowed\"", "0"};
        QTest::newRow("setting commands are refused, not ignored")
            << QStringList{"CONF:VOLT:AC", "SYST:ERR?", "*TRG", "SYST:ERR?", "MEAS:VOLT", "SYST:ERR?"}
            << QStringList{"", "-200,\"Execution error;the meter is set at its own switch\"",
                           "", "-200,\"Execution error;the meter is set at its own switch\"",
                           "", "-200,\"Execution error;the meter is set at its own switch\""};
        QTest::newRow("configuration as text") << QStringList{"CONF?"} << QStringList{"\"VOLT:DC,V,AUTO\""};
        QTest::newRow("channel selection by name and number")
            << QStringList{"CHAN?",         "CHAN I",      "READ?", "CONF?",
                           "MEAS:CURR:AC?", "ROUT:CHAN 1", "READ?", "CHAN:CAT?"}
            << QStringList{"\"U\"", "", "0.25", "\"CURR:AC,mA,AUTO\"", "0.25", "", "1.234", "\"U\",\"I\""};
        QTest::newRow("unknown channel")
            << QStringList{"CHAN X", "SYST:ERR?", "CHAN", "SYST:ERR?", "READ?"}
            << QStringList{"", "-224,\"Illegal parameter value;no such channel\"", "",
                           "-109,\"Missing parameter\"", "1.234"};
        QTest::newRow("several queries on one line")
            << QStringList{"*IDN?;READ?", "READ?;:SYST:ERR?"}
            << QStringList{"dmmview,KR31G,/dev/ttyUSB0,9.9;1.234", "1.234;" + noError};
        QTest::newRow("reset clears the statistics only")
            << QStringList{"CALC:AVER:COUN?", "CALC:AVER:MAX?", "*RST", "CALC:AVER:COUN?", "READ?"}
            << QStringList{"1", "1.234", "", "0", "1.234"};
        QTest::newRow("clear status empties the queue")
            << QStringList{"FOO?", "BAR?", "*CLS", "SYST:ERR?"} << QStringList{"", "", "", noError};
        QTest::newRow("malformed headers")
            << QStringList{"RE@D?", "SYST:ERR?", "SYST::ERR?", "SYST:ERR?", "\x01\xff?", "SYST:ERR?"}
            << QStringList{"", "-102,\"Syntax error\"", "", "-102,\"Syntax error\"",
                           "", "-102,\"Syntax error\""};
        QTest::newRow("blank lines say nothing") << QStringList{"", "  ", ";;"} << QStringList{"", "", ""};
    }

    void dialogue() {
        QFETCH(QStringList, lines);
        QFETCH(QStringList, answers);
        Bench b;
        for (int i = 0; i < lines.size(); ++i) {
            const std::string answer = b.parser.execute(lines[i].toLatin1().toStdString());
            const QString expected = answers[i].isEmpty() ? QString() : answers[i] + "\n";
            QCOMPARE(QString::fromStdString(answer), expected);
        }
    }

    void overloadAndNoReading() {
        ServedChannels channels;
        const int r = channels.addChannel("R");
        ScpiParser parser(channels, "1");
        QCOMPARE(parser.execute("READ?"), std::string());
        QCOMPARE(parser.execute("SYST:ERR?"), std::string("-230,\"Data corrupt or stale;no reading yet\"\n"));
        channels.reading(r, servedReading("0.L", "M\u03A9", "\u03A9", 1e6, ""));
        QCOMPARE(parser.execute("READ?"), std::string("9.9E+37\n"));
        QCOMPARE(parser.execute("MEAS:RES?"), std::string("9.9E+37\n"));
    }

    // A full queue keeps its oldest errors and says that it overflowed in its last place.
    void queueOverflow() {
        Bench b;
        for (int i = 0; i < 30; ++i) b.parser.execute("NOPE");
        QCOMPARE(b.parser.execute("SYST:ERR:COUN?"), std::string("20\n"));
        for (int i = 0; i < 19; ++i)
            QCOMPARE(b.parser.execute("SYST:ERR?"), std::string("-113,\"Undefined header\"\n"));
        QCOMPARE(b.parser.execute("SYST:ERR?"), std::string("-350,\"Queue overflow\"\n"));
        QCOMPARE(b.parser.execute("SYST:ERR?"), std::string("0,\"No error\"\n"));
    }
};

QTEST_GUILESS_MAIN(TstScpiParser)
#include "tst_scpi_parser.moc"

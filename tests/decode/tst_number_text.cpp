// Numbers as the text outputs write them: CSV, published JSON and the lines of --decode.
#include <QTest>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "NumberText.h"

class NumberTextTest : public QObject {
    Q_OBJECT

private slots:
    void plainDecimalsThatReadBack_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        const double inf = std::numeric_limits<double>::infinity();
        QTest::newRow("negative counts") << -1234.0 << "-1234";
        QTest::newRow("over full scale") << 4001.0 << "4001";
        QTest::newRow("minus zero") << -0.0 << "0";
        QTest::newRow("no exponent") << 1e7 << "10000000";
        QTest::newRow("beyond 32 bits") << double(16777216.0f * 1024) << "17179869184";
        QTest::newRow("beyond 2^53") << 1e20 << "100000000000000000000";
        QTest::newRow("a half") << 0.5 << "0.5";
        QTest::newRow("negative fraction") << -0.012 << "-0.012";
        QTest::newRow("small, no exponent") << 1e-7 << "0.0000001";
        // a single-precision value is the double it widens to, digit for digit
        QTest::newRow("widened float") << double(0.1f) << "0.10000000149011612";
        // every text of it that reads back has as many digits: the one it is exactly
        QTest::newRow("1e23") << 1e23 << "99999999999999991611392";
        // no number: each output writes its own "none"
        QTest::newRow("infinity") << inf << "";
        QTest::newRow("minus infinity") << -inf << "";
        QTest::newRow("not a number") << std::nan("") << "";
    }
    void plainDecimalsThatReadBack() {
        QFETCH(double, value);
        QFETCH(QString, text);
        QCOMPARE(QString::fromStdString(NumberText::of(value)), text);
        // appended after what the line holds already
        std::string line = "a,";
        NumberText::append(line, value);
        QCOMPARE(QString::fromStdString(line), "a," + text);
        if (!text.isEmpty()) QCOMPARE(std::strtod(text.toLatin1().constData(), nullptr), value);
    }
};

QTEST_GUILESS_MAIN(NumberTextTest)
#include "tst_number_text.moc"

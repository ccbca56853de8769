// Alarm-limit texts and the keys the limit edits accept.
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTest>

#include "KeyFilter.h"
#include "LimitRules.h"

using namespace LimitRules;

namespace {

// Drops the key presses the limit edits refuse, the way the window wires its two edits.
class KeyFilter : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject*, QEvent* event) override {
        return event->type() == QEvent::KeyPress &&
               discardsKeyPress(*static_cast<QKeyEvent*>(event), filterKey);
    }
};

}  // namespace

class TestLimits : public QObject {
    Q_OBJECT

private slots:
    void validTexts_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<float>("limit");
        QTest::newRow("plus sign") << "+250" << 250.0f;
        QTest::newRow("minus sign") << "-3" << -3.0f;
        QTest::newRow("leading zeros") << "-0004000" << -4000.0f;
    }
    void validTexts() {
        QFETCH(QString, text);
        QFETCH(float, limit);
        float stored = 1234;
        QString error = "untouched";
        QVERIFY(applyLimitText(text, 4000, stored, &error));
        QCOMPARE(stored, limit);
        QCOMPARE(error, QString("untouched"));
    }

    void invalidTextsKeepTheLimit_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << "";
        QTest::newRow("lone minus") << "-";
        QTest::newRow("lone plus") << "+";
        QTest::newRow("sign after digits") << "25-";
        QTest::newRow("two signs") << "+-3";
        QTest::newRow("double minus") << "--3";
        QTest::newRow("beyond 32 bits") << "2147483648";
        QTest::newRow("below 32 bits") << "-2147483649";
        QTest::newRow("many digits") << "99999999999999999999";
        QTest::newRow("space") << " 5";
        QTest::newRow("trailing space") << "5 ";
        QTest::newRow("letters") << "4k";
        QTest::newRow("exponent") << "1e3";
        QTest::newRow("fraction") << "2.5";
        QTest::newRow("other digits") << QString::fromUtf8("\u0663");
    }
    void invalidTextsKeepTheLimit() {
        QFETCH(QString, text);
        float stored = 1234;
        QString error;
        QVERIFY(!applyLimitText(text, 4000, stored, &error));
        QCOMPARE(stored, 1234.0f);
        QCOMPARE(error, QString("'%1' is not a valid integer value").arg(text));
        QVERIFY(!applyLimitText(text, 4000, stored));  // the message is optional
    }

    void keyFilter() {
        QString passed;
        for (char16_t c = 0; c < 0x3000; ++c) {
            const char16_t out = filterKey(c);
            QVERIFY(out == 0 || out == c);
            if (out) passed.append(QChar(out));
        }
        QCOMPARE(passed, QString("\b+-0123456789"));
    }

    void keyPresses() {
        auto press = [](int key, const QString& text) {
            return discardsKeyPress(QKeyEvent(QEvent::KeyPress, key, Qt::NoModifier, text), filterKey);
        };
        QVERIFY(press(Qt::Key_A, "a"));
        QVERIFY(press(Qt::Key_Space, " "));
        QVERIFY(press(Qt::Key_Period, "."));
        QVERIFY(press(Qt::Key_V, QString(QChar(0x16))));  // Ctrl+V typed as a control character
        QVERIFY(!press(Qt::Key_5, "5"));
        QVERIFY(!press(Qt::Key_Minus, "-"));
        QVERIFY(!press(Qt::Key_Backspace, "\b"));
        QVERIFY(!press(Qt::Key_Left, ""));
        QVERIFY(!press(Qt::Key_Delete, QString(QChar(0x7f))));
        QVERIFY(!press(Qt::Key_Tab, "\t"));
        QVERIFY(!discardsKeyPress(QKeyEvent(QEvent::KeyRelease, Qt::Key_A, Qt::NoModifier, "a"), filterKey));
    }

    // An input method commits text without key presses: the edit's validator holds it to the
    // same rule as the key filter.
    void composedTextIsHeldToTheSameRule() {
        QLineEdit edit;
        edit.setValidator(new LimitTextValidator(&edit));
        auto commit = [&edit](const QString& text) {
            QInputMethodEvent event;
            event.setCommitString(text);
            QCoreApplication::sendEvent(&edit, &event);
            return edit.text();
        };
        QCOMPARE(commit("-1"), QString("-1"));
        QCOMPARE(commit(QString::fromUtf8("\u00e9")), QString("-1"));  // a dead key and e
        QCOMPARE(commit("2x"), QString("-1"));                         // refused whole
        QCOMPARE(commit(QString::fromUtf8("\u0663")), QString("-1"));  // a digit of another script
        QCOMPARE(commit(" "), QString("-1"));
        QCOMPARE(commit("\b"), QString("-1"));
        QCOMPARE(commit("+2"), QString("-1+2"));  // wrong order is for the conversion to refuse
        edit.setText("4k");                       // the program's own texts are not checked
        QCOMPARE(edit.text(), QString("4k"));
    }

    // Typing into an edit wired like the window's: refused keys change nothing, and every change
    // re-reads the limit, passing through the intermediate values.
    void typingPassesThroughIntermediateLimits() {
        QLineEdit edit;
        KeyFilter filter;
        edit.installEventFilter(&filter);
        float limit = -4002;
        QList<float> seen;
        QObject::connect(&edit, &QLineEdit::textChanged, [&](const QString& text) {
            if (applyLimitText(text, 4000, limit)) seen.append(limit);
        });
        QTest::keyClicks(&edit, "-a3 x0");
        QCOMPARE(edit.text(), QString("-30"));
        QCOMPARE(seen, QList<float>({-3.0f, -30.0f}));

        // a sign after the digits is typed but not taken
        QTest::keyClicks(&edit, "-");
        QCOMPARE(edit.text(), QString("-30-"));
        QCOMPARE(limit, -30.0f);
        QTest::keyClick(&edit, Qt::Key_Backspace);
        QCOMPARE(limit, -30.0f);
        QCOMPARE(seen.size(), 3);
    }
};

QTEST_MAIN(TestLimits)
#include "tst_limits.moc"

#include <QFrame>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>
#include <QtTest>
#include <functional>

#include "BarPictures.h"
#include "FrameBorderOnly.h"
#include "LcdLabel.h"

namespace {

// Makes a widget on the ground, painted from pictures of it or painting itself.
using Make = std::function<QWidget*(QWidget* ground, bool pictured)>;
using Change = std::function<void(QWidget*)>;

Make bar() {
    return [](QWidget* ground, bool pictured) -> QWidget* {
        auto* b = new QProgressBar(ground);
        b->resize(120, 12);
        b->setRange(0, 40);
        b->setValue(30);
        b->setTextVisible(false);
        if (pictured) new BarPictures(b);
        return b;
    };
}

// A win panel with a transparent label at `label`, inside its border, on it or past it.
Make frame(QRect label) {
    return [label](QWidget* ground, bool pictured) -> QWidget* {
        auto* f = new QFrame(ground);
        f->resize(120, 60);
        f->setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
        f->setAutoFillBackground(true);
        // light and dark shades of the ground, as a sunken or raised border shows them
        f->setPalette(QPalette(QColor(0xC0, 0xD8, 0xC0)));
        (new QLabel(QStringLiteral("-3999"), f))->setGeometry(label);
        if (pictured) new FrameBorderOnly(f);
        return f;
    };
}

// An LCD digit taller than its glyphs, under a label over its empty top, on the LCD's ground; the
// pictured one takes its captions through LcdLabel::setCaption, which repaints only their ink.
Make lcd() {
    return [](QWidget* ground, bool pictured) -> QWidget* {
        auto* panel = new QWidget(ground);
        panel->setProperty("inkOnly", pictured);
        panel->setAutoFillBackground(true);
        panel->setPalette(QPalette(QColor(0x94, 0xBE, 0xFE)));
        panel->resize(70, 150);
        auto* digit = new LcdLabel(panel);
        digit->setGeometry(10, 20, 38, 112);
        digit->setGlyphHeight(100);
        (new QLabel(QStringLiteral("232C"), panel))->setGeometry(20, 15, 34, 16);
        return panel;
    };
}

Change caption(const char* text) {
    return [text](QWidget* w) {
        auto* digit = w->findChild<LcdLabel*>();
        if (w->property("inkOnly").toBool())
            LcdLabel::setCaption(digit, QString::fromLatin1(text));
        else
            digit->setText(QString::fromLatin1(text));
    };
}

Change value(int v) {
    return [v](QWidget* w) { static_cast<QProgressBar*>(w)->setValue(v); };
}

// Alike but for a bar's antialiased corners: a picture laid on the ground rounds their blend once
// more, by one level at most.
bool alike(const QImage& a, const QImage& b) {
    for (int i = 0; a.size() == b.size() && i < a.width() * a.height(); ++i) {
        const QRgb p = a.pixel(i % a.width(), i / a.width()), q = b.pixel(i % a.width(), i / a.width());
        if (std::max({std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                      std::abs(qBlue(p) - qBlue(q))}) > 1)
            return false;
    }
    return a.size() == b.size();
}

}  // namespace

// A widget painted from pictures of itself and its twin painting itself, on the same coloured
// ground, look the same on screen at first and after every change they go through.
class TestPictures : public QObject {
    Q_OBJECT

private slots:
    void looksAsItsTwinPaintingItself_data() {
        QTest::addColumn<Make>("make");
        QTest::addColumn<QList<Change>>("changes");
        const Change newText = [](QWidget* w) { w->findChild<QLabel*>()->setText(QStringLiteral("12.345")); };
        QTest::newRow("bar positions back and forth")
            << bar() << QList<Change>{value(0), value(17), value(40), value(17)};
        QTest::newRow("bar range") << bar() << QList<Change>{[](QWidget* w) {
            static_cast<QProgressBar*>(w)->setMaximum(80);
        }};
        QTest::newRow("bar disabled") << bar() << QList<Change>{[](QWidget* w) { w->setEnabled(false); }};
        QTest::newRow("label inside the frame") << frame({10, 10, 60, 20}) << QList<Change>{newText};
        QTest::newRow("label over the frame's border") << frame({1, 10, 60, 20}) << QList<Change>{newText};
        QTest::newRow("label past the frame's corner") << frame({70, 40, 60, 30}) << QList<Change>{newText};
        QTest::newRow("frame raised")
            << frame({10, 10, 60, 20})
            << QList<Change>{[](QWidget* w) { static_cast<QFrame*>(w)->setFrameShadow(QFrame::Raised); }};
        QTest::newRow("LCD captions") << lcd() << QList<Change>{caption("8"), caption("1"), caption("-"),
                                                                caption(""),  caption("7"), caption("8")};
        for (const auto& [kind, make] :
             {std::pair("bar", bar()), std::pair("frame", frame({70, 40, 60, 30}))}) {
            QTest::addRow("%s resized", kind)
                << make << QList<Change>{[](QWidget* w) { w->resize(w->width() - 20, w->height() + 4); }};
            QTest::addRow("%s palette", kind) << make << QList<Change>{[](QWidget* w) {
                QPalette p = w->palette();
                p.setColor(QPalette::Highlight, Qt::darkGreen);
                p.setColor(QPalette::Dark, Qt::red);
                p.setColor(QPalette::Light, Qt::blue);
                w->setPalette(p);
            }};
        }
    }
    void looksAsItsTwinPaintingItself() {
        QFETCH(Make, make);
        QFETCH(QList<Change>, changes);
        QWidget ground;
        ground.setPalette(QPalette(Qt::black, Qt::yellow));
        ground.setAutoFillBackground(true);
        ground.resize(280, 170);
        QWidget* pictured = make(&ground, true);
        QWidget* twin = make(&ground, false);
        pictured->move(10, 10);
        twin->move(150, 10);
        ground.show();
        QVERIFY(QTest::qWaitForWindowExposed(&ground));
        for (int i = 0; i <= changes.size(); ++i) {
            if (i > 0) {
                changes[i - 1](pictured);
                changes[i - 1](twin);
            }
            QTest::qWait(50);
            const QImage shown =
                ground.screen()->grabWindow(ground.winId()).toImage().convertToFormat(QImage::Format_RGB32);
            QVERIFY2(alike(shown.copy(0, 0, 140, 170), shown.copy(140, 0, 140, 170)),
                     qPrintable(QString::number(i)));
        }
    }
};

QTEST_MAIN(TestPictures)
#include "tst_pictures.moc"

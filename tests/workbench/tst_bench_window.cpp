// The bench window's own layout: a tile and a strip for every channel, and at the smallest size
// the window allows, every tile, strip and button whole.
#include <QAbstractButton>
#include <QLabel>
#include <QMenu>
#include <QScrollArea>
#include <QScrollBar>
#include <QToolBar>
#include <QtTest>
#include <set>

#include "BenchChart.h"
#include "BenchSession.h"
#include "BenchStripView.h"
#include "BenchTestSupport.h"
#include "BenchTile.h"
#include "BenchTileGrid.h"
#include "BenchUnits.h"
#include "BenchWindow.h"

namespace {

BenchReading reading(qint64 t, double value, const QString& display, const QString& unit) {
    BenchReading r;
    r.timeMs = t;
    r.value = value;
    r.display = display;
    r.unit = unit;
    r.acdc = QStringLiteral("DC");
    r.range = QStringLiteral("AUTO");
    return r;
}

// Whether `w` and every visible widget in it lie whole inside `outer` and get the width their
// text needs.
void checkWhole(const QWidget* w, const QWidget* outer) {
    const QRect r(w->mapTo(outer, QPoint(0, 0)), w->size());
    const auto* labelled = qobject_cast<const QLabel*>(w);
    const QString what = QString::fromLatin1(w->metaObject()->className()) + QLatin1Char(' ') +
                         (labelled ? labelled->text() : w->objectName());
    QVERIFY2(outer->rect().contains(r), qPrintable(what + QStringLiteral(" is cut off")));
    if (const auto* label = qobject_cast<const QLabel*>(w)) {
        QVERIFY2(label->width() >= label->minimumSizeHint().width(), qPrintable(label->text()));
        QVERIFY2(label->height() >= label->minimumSizeHint().height(), qPrintable(label->text()));
    }
    if (const auto* button = qobject_cast<const QAbstractButton*>(w)) {
        QVERIFY2(button->width() >= button->minimumSizeHint().width(), qPrintable(button->text()));
    }
    for (const QWidget* child : w->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child->isVisible()) checkWhole(child, outer);
    }
}

// A number as a tile shows it, "5.418 µA", in the base unit, with half its last digit's worth:
// how far from the true value it may be.
struct Shown {
    double value = NAN;
    double within = 0;
    int exponent = 0;
};
Shown parseShown(const QString& text, const QString& unit) {
    const qsizetype space = text.indexOf(' ');
    const QString digits = text.left(space);
    bool ok = false;
    const double number = digits.toDouble(&ok);  // "C" locale: a point, no grouping
    if (!ok || digits.contains('e') || digits.contains('E')) return {};
    const QString shownUnit = space < 0 ? QString() : text.mid(space + 1);
    const BenchUnits::Split split = BenchUnits::splitPrefix(shownUnit);
    if (split.base != unit) return {};
    const qsizetype point = digits.indexOf('.');
    const int decimals = point < 0 ? 0 : int(digits.size() - point - 1);
    return {split.toBase(number), 0.5 * std::pow(10.0, split.exponent - decimals) * (1 + 1e-9),
            split.exponent};
}

// Waits for a popup menu and clicks its entry `text` with the mouse, as a user would.
void clickMenuEntryWhenShown(const QString& text, bool* clicked) {
    auto* poll = new QTimer;
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, [poll, text, clicked] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu || !menu->isVisible()) return;
        poll->stop();
        poll->deleteLater();
        for (QAction* a : menu->actions()) {
            if (a->text() != text) continue;
            QTest::mouseMove(menu, menu->actionGeometry(a).center());
            QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(a).center());
            *clicked = true;
            return;
        }
        menu->close();
    });
    poll->start();
}

}  // namespace

class TstBenchWindow : public QObject {
    Q_OBJECT

private slots:
    void tilesAndStripsAtEverySize_data() {
        QTest::addColumn<int>("meters");
        QTest::addColumn<bool>("smallest");
        QTest::newRow("two meters and a math channel, 1000 x 700") << 2 << false;
        QTest::newRow("two meters and a math channel, smallest") << 2 << true;
        QTest::newRow("five meters and a math channel, smallest") << 5 << true;
    }

    void tilesAndStripsAtEverySize() {
        QFETCH(int, meters);
        QFETCH(bool, smallest);
        BenchModel model;
        BenchSession session(model);
        BenchWindow window(session);
        window.resize(1000, 700);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QStringList names = {"U", "I", "T", "R", "F"};
        for (int m = 0; m < meters; ++m) model.addMeter(names[m]);
        QVERIFY(session.addMath(QStringLiteral("Power"), QStringLiteral("U * I")).id >= 0);
        const qint64 t0 = QDateTime::currentMSecsSinceEpoch() - 10'000;
        for (int k = 0; k < 50; ++k) {
            model.addReading(model.channelId("U"), reading(t0 + k * 200, 12.0, "-12.00 V", "V"));
            model.addReading(model.channelId("I"), reading(t0 + k * 200 + 100, 0.5, "500.0 mA", "A"));
        }
        QTest::qWait(2 * BenchWindow::kTileRefreshMs + BenchChart::kRedrawMs);

        QCOMPARE(int(window.tiles()->tiles().size()), meters + 1);
        for (int m = 0; m < meters; ++m) QVERIFY(window.tiles()->tile(model.channelId(names[m])));
        QCOMPARE(window.tiles()->tiles().back()->findChild<QLabel*>("BenchTileValue")->text(),
                 QStringLiteral("6.00000 W"));
        if (smallest) {
            window.resize(window.minimumSizeHint());
            QTest::qWait(50);
            qInfo("smallest: %dx%d", window.width(), window.height());
            QVERIFY(window.width() < 1000 && window.height() < 700);
        } else {
            // a few channels sit in one row
            QCOMPARE(window.tiles()->columnsFor(window.tiles()->width()), meters + 1);
        }

        const auto* area = window.findChild<QScrollArea*>(QStringLiteral("BenchTiles"));
        // up to six tiles show whole without scrolling, even at the smallest size
        for (const BenchTile* tile : window.tiles()->tiles()) {
            checkWhole(tile, area->viewport());
            if (QTest::currentTestFailed()) return;
        }
        for (const QWidget* w : window.findChild<QToolBar*>()->findChildren<QWidget*>()) {
            if (qobject_cast<const QAbstractButton*>(w) && w->isVisible()) checkWhole(w, &window);
        }
        const BenchStripView* strips = window.chart()->view();
        checkWhole(window.chart(), &window);
        for (int s = 0; s < meters + 1; ++s) {
            const QRect plot = strips->plotRect(s);
            QVERIFY(strips->rect().contains(plot));
            QVERIFY(plot.height() >= 2 * strips->fontMetrics().height());
        }
    }

    // Values from 0.0001 to 99999 shown with every prefix, in five and eight tiles at the smallest
    // window and at 1000 pixels: every number a tile shows is whole (it reads back as the value
    // within its last digit), uses the tile's one prefix, and its label shows all of it.
    void numbersWhole_data() {
        QTest::addColumn<int>("tiles");
        QTest::addColumn<bool>("smallest");
        QTest::newRow("five tiles, 1000 px") << 5 << false;
        QTest::newRow("five tiles, smallest") << 5 << true;
        QTest::newRow("eight tiles, 1000 px") << 8 << false;
        QTest::newRow("eight tiles, smallest") << 8 << true;
    }
    void numbersWhole() {
        QFETCH(int, tiles);
        QFETCH(bool, smallest);
        struct Meter {
            const char* digits;
            const char* prefix;
            const char* unit;
        };
        const Meter meters[] = {{"5.418", "\u00B5", "V"}, {"0.0001", "m", "A"},      {"99999", "", "\u03A9"},
                                {"12.345", "k", "Hz"},    {"999.99", "M", "\u03A9"}, {"0.0123", "n", "F"}};
        const int meterCount = tiles - 2;
        BenchModel model;
        BenchSession session(model);
        BenchWindow window(session);
        window.resize(1000, 700);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        for (int m = 0; m < meterCount; ++m) model.addMeter(QStringLiteral("M%1").arg(m));
        QVERIFY(session.addMath("P", "M0 * M1").id > 0);
        QVERIFY(session.addMath("E", "integral(P)").id > 0);
        const qint64 t0 = QDateTime::currentMSecsSinceEpoch() - 10'000;
        const double factors[] = {1, 0.5, 0.9, 1.1, 0.73};
        for (int j = 0; j < 5; ++j) {
            for (int m = 0; m < meterCount; ++m) {
                const QString base = QString::fromUtf8(meters[m].digits);
                const qsizetype point = base.indexOf('.');
                const int decimals = point < 0 ? 0 : int(base.size() - point - 1);
                const QString digits = QString::number(base.toDouble() * factors[j], 'f', decimals);
                const QString unit = QString::fromUtf8(meters[m].prefix) + QString::fromUtf8(meters[m].unit);
                const BenchUnits::Split split = BenchUnits::splitPrefix(unit);
                model.addReading(model.channelId(QStringLiteral("M%1").arg(m)),
                                 reading(t0 + j * 200 + m, split.toBase(digits.toDouble()),
                                         digits + ' ' + unit, split.base));
            }
        }
        if (smallest) window.resize(window.minimumSizeHint());
        QTest::qWait(2 * BenchWindow::kTileRefreshMs + 50);

        QCOMPARE(int(window.tiles()->tiles().size()), tiles);
        for (const BenchTile* tile : window.tiles()->tiles()) {
            const int id = tile->channelId();
            const ChannelInfo* ch = model.channel(id);
            const ChannelStats stats = model.statistics(id);
            const QString what = ch->name + ' ';
            QVERIFY(stats.count > 0);
            std::vector<std::pair<const char*, double>> expected = {{"BenchTileStat_min", stats.min},
                                                                    {"BenchTileStat_max", stats.max},
                                                                    {"BenchTileStat_mean", stats.mean}};
            if (stats.count > 1) expected.push_back({"BenchTileStat_\u03C3", stats.stddev});
            if (ch->kind == ChannelKind::Math)
                expected.push_back({"BenchTileValue", model.latest(id)->value});
            else
                QCOMPARE(tile->findChild<QLabel*>("BenchTileValue")->text(), model.latest(id)->display);
            std::set<int> prefixes;
            for (const auto& [label, value] : expected) {
                const QLabel* shown = tile->findChild<QLabel*>(QString::fromUtf8(label));
                QVERIFY2(shown, label);
                const Shown read = parseShown(shown->text(), ch->unit);
                QVERIFY2(std::fabs(read.value - value) <= read.within,
                         qPrintable(what + shown->text() + " for " + QString::number(value, 'g', 17)));
                prefixes.insert(read.exponent);
                QVERIFY2(shown->width() >= shown->sizeHint().width(),
                         qPrintable(what + shown->text() + " is cut"));
                QVERIFY2(tile->rect().contains(QRect(shown->mapTo(tile, QPoint(0, 0)), shown->size())),
                         qPrintable(what + shown->text() + " lies outside its tile"));
            }
            QVERIFY2(prefixes.size() == 1, qPrintable(what + "has more than one prefix"));
        }
    }

    // A math channel that waited for a meter is announced while the meter's announcement is on its
    // way: the tiles still come in the model's order, the strips' order.
    void tilesInTheModelsOrder() {
        BenchModel model;
        BenchSession session(model);
        BenchSettings kept;
        kept.maths = {{"P", "U * 2"}};
        session.restoreMaths(kept);
        BenchWindow window(session);
        model.addMeter("U");
        model.addMeter("I");
        QStringList names;
        for (const BenchTile* tile : window.tiles()->tiles()) names << model.channel(tile->channelId())->name;
        QCOMPARE(names, QStringList({"U", "P", "I"}));
    }

    // Many channels: the tiles scroll and the window keeps its size.
    void manyChannelsScroll_data() {
        QTest::addColumn<int>("channels");
        QTest::newRow("twelve") << 12;
        QTest::newRow("a thousand") << 1000;
    }
    void manyChannelsScroll() {
        QFETCH(int, channels);
        BenchModel model;
        BenchSession session(model);
        BenchWindow window(session);
        window.resize(1000, 700);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QSize size = window.size();
        const qint64 t0 = QDateTime::currentMSecsSinceEpoch();
        for (int m = 0; m < channels; ++m) {
            const int id =
                model.addMeter(QStringLiteral("lab-%1").arg(m), QStringLiteral("mqtt://broker/lab"));
            model.addReading(id, reading(t0, 1.5, "1.500 V", "V"));
        }
        QTest::qWait(2 * BenchWindow::kTileRefreshMs + 50);
        QCOMPARE(window.size(), size);
        QVERIFY(window.minimumSizeHint().width() <= size.width());
        QVERIFY(window.minimumSizeHint().height() <= size.height());
        const auto* area = window.findChild<QScrollArea*>(QStringLiteral("BenchTiles"));
        const QWidget* grid = window.tiles();
        QVERIFY(grid->height() <= area->viewport()->height() + area->verticalScrollBar()->maximum());
        for (const BenchTile* tile : window.tiles()->tiles())
            QVERIFY(grid->rect().contains(tile->geometry()));
        if (channels > 100) QVERIFY(area->verticalScrollBar()->maximum() > 0);
        // the last tile is reached by scrolling
        area->verticalScrollBar()->setValue(area->verticalScrollBar()->maximum());
        const BenchTile* last = window.tiles()->tiles().back();
        const QRect shown(last->mapTo(area->viewport(), QPoint(0, 0)), last->size());
        QVERIFY(area->viewport()->rect().contains(shown));
    }

    // Tiles go while two meters send, by every way a user has: the menu by the mouse or by the
    // context-menu key, and Delete on the focused tile. A math channel goes with an input.
    void removeWhileReadingsFlow_data() {
        QTest::addColumn<QString>("tile");
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QStringList>("left");
        const QStringList all = {"U", "I", "P", "E", "T"};
        for (const QString how : {"mouse", "menu key", "delete key"}) {
            QTest::addRow("meter tile, %s", qPrintable(how))
                << "T" << how << "Remove" << QStringList{"U", "I", "P", "E"};
            QTest::addRow("math tile, %s", qPrintable(how))
                << "P" << how << "Remove" << QStringList{"U", "I", "T"};
            QTest::addRow("math input, %s", qPrintable(how))
                << "I" << how << "Remove" << QStringList{"U", "T"};
        }
        QTest::addRow("reset by the mouse") << "E"
                                            << "mouse"
                                            << "Reset" << all;
        QTest::addRow("REL by the menu key") << "U"
                                             << "menu key"
                                             << "REL" << all;
    }

    void removeWhileReadingsFlow() {
        QFETCH(QString, tile);
        QFETCH(QString, how);
        QFETCH(QString, entry);
        QFETCH(QStringList, left);
        FedLine voltage(
            "KR31G", dmmsim::SimFunction::Volts, [](int k) { return 12.0 + 0.01 * (k % 7); }, 20);
        FedLine current(
            "KR31G", dmmsim::SimFunction::MilliAmps, [](int k) { return 0.5 + 0.01 * (k % 5); }, 20);
        BenchModel model;
        BenchSession session(model);
        BenchWindow window(session);
        int changes = 0;
        window.onBenchChanged = [&changes] { ++changes; };
        window.resize(1000, 700);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(session.addLocalMeter({"U", "KR31G", false, voltage.path()}));
        QVERIFY(session.addLocalMeter({"I", "KR31G", false, current.path()}));
        QVERIFY(session.addMath("P", "U * I").id > 0);
        QVERIFY(session.addMath("E", "integral(P)").id > 0);
        QVERIFY(model.addMeter("T") > 0);
        voltage.start();
        current.start();
        const int e = model.channelId("E");
        QTRY_VERIFY_WITH_TIMEOUT(model.readingCount(e) > 20, 10000);

        BenchTile* target = window.tiles()->tile(model.channelId(tile));
        QVERIFY(target);
        bool clicked = false;
        if (how == "delete key") {
            target->setFocus();
            QTest::keyClick(target, Qt::Key_Delete);
            clicked = true;
        } else {
            clickMenuEntryWhenShown(entry, &clicked);
            if (how == "mouse") {
                QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(10, 10),
                                        target->mapToGlobal(QPoint(10, 10)));
                QApplication::sendEvent(target, &event);
            } else {
                target->setFocus();
                QTest::keyClick(target, Qt::Key_Menu);
            }
        }
        QTRY_VERIFY2(clicked, "no menu came up");

        // readings keep coming and every channel left still computes
        const uint64_t before = model.readingCount(model.channelId("U"));
        QTRY_VERIFY_WITH_TIMEOUT(model.readingCount(model.channelId("U")) > before + 10, 10000);
        QTest::qWait(2 * BenchWindow::kTileRefreshMs);
        QStringList names;
        for (const BenchTile* t : window.tiles()->tiles()) {
            names << model.channel(t->channelId())->name;
            QVERIFY(t->isVisible());
        }
        QCOMPARE(names, left);
        QCOMPARE(changes, entry == "Remove" ? 1 : 0);
        if (entry == "Reset") QVERIFY(model.statistics(e).count + 15 < model.readingCount(e));
        if (entry == "REL") QVERIFY(model.relReference(model.channelId("U")).has_value());
    }
};

QTEST_MAIN(TstBenchWindow)
#include "tst_bench_window.moc"

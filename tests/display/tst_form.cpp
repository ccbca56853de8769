#include <QMainWindow>
#include <QRegularExpression>
#include <QStyleOptionButton>
#include <QtTest>

#include "LcdPanelModel.h"
#include "LinkImages.h"
#include "MeterState.h"
#include "ui_TFCOMM.h"

// The main window as stored: loads the generated form on a plain QMainWindow and checks the
// controls the rest of the program finds by name, and the way the LCD comes up before the first
// frame.
class TstForm : public QObject {
    Q_OBJECT

public:
    TstForm() {
        ui.setupUi(&window);
        ui.CONok->setPixmap(LinkImages::pixmap(true));
        ui.CONokN->setPixmap(LinkImages::pixmap(false));
    }

private:
    template <typename T = QWidget>
    T* find(const char* name) {
        return window.findChild<T*>(QString::fromLatin1(name));
    }

    QImage grab(QWidget* w) { return w->grab().toImage(); }

    QMainWindow window;
    Ui::TFCOMM ui;

private slots:
    void initTestCase() {
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
    }

    void windowShape() {
        QCOMPARE(window.windowTitle(), QString());
        QCOMPARE(window.centralWidget()->width(), 615);
        // the stored height leaves a 409-pixel client area below a menu bar of usual height
        QVERIFY(qAbs(window.height() - window.menuBar()->height() - 409) <= 4);
    }

    void everyPanelElementStartsAsTheModelSays() {
        for (int i = 0; i < kLcdElementCount; ++i) {
            const auto e = static_cast<LcdElement>(i);
            const char* name = LcdPanelModel::name(e);
            QWidget* w = find(name);
            QVERIFY2(w, name);
            QCOMPARE(w->property("text").toString(), QString::fromLatin1(LcdPanelModel::startCaption(e)));
            QVERIFY2(w->isVisible() == LcdPanelModel::startVisible(e), name);
        }
    }

    void lcdElementsSitInTheirPlaces_data() {
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<int>("height");  // glyph height, 0 for the decimal points
        QTest::addColumn<bool>("bold");
        struct Row {
            const char* name;
            int x, y, w, h, glyph;
            bool bold;
        };
        const Row rows[] = {
            {"LcdFH", 5, 20, 26, 112, 100, false},   {"LcdDa", 40, 20, 38, 112, 100, false},
            {"LcdP1", 79, 105, 7, 8, 0, false},      {"LcdDb", 88, 20, 38, 112, 100, false},
            {"LcdP2", 127, 105, 7, 8, 0, false},     {"LcdDc", 136, 20, 38, 112, 100, false},
            {"LcdP3", 176, 105, 7, 8, 0, false},     {"LcdDd", 184, 20, 38, 112, 100, false},
            {"LcdAuto", 8, 11, 58, 21, 19, true},    {"LCDRS", 70, 11, 29, 21, 19, true},
            {"LCDBF", 136, 8, 21, 27, 24, false},    {"LCDHold", 160, -2, 19, 39, 35, false},
            {"LCDRec", 184, 3, 19, 36, 32, false},   {"LCDBATT", 208, 0, 12, 39, 35, false},
            {"LCDTRMST", 230, 10, 13, 21, 19, true}, {"LcdRPM", 230, 11, 46, 21, 19, true},
            {"LCDTRMS", 241, 16, 30, 14, 12, true},  {"LCDBT", 232, 33, 11, 39, 35, false},
            {"LCDCS", 248, 33, 24, 36, 32, false},   {"LCDFS", 248, 33, 23, 36, 32, false},
            {"LCDDI", 248, 33, 31, 32, 29, false},   {"LCDFm", 248, 31, 25, 36, 32, false},
            {"LCDM1", 230, 57, 20, 27, 24, false},   {"LCDk", 238, 55, 14, 30, 27, false},
            {"LCDHz", 248, 58, 29, 27, 24, false},   {"LCDohm", 256, 54, 19, 32, 29, false},
            {"LCDu", 240, 75, 16, 36, 32, false},    {"Lcdm", 232, 81, 20, 27, 24, false},
            {"LCDn", 240, 82, 13, 27, 24, false},    {"LcdV", 256, 83, 16, 27, 24, false},
            {"LCDA", 256, 82, 16, 27, 24, false},    {"LCDF", 256, 82, 15, 27, 24, false},
            {"LcdAC", 6, 38, 31, 23, 21, true},      {"LcdDc1", 5, 38, 32, 23, 21, true},
        };
        for (const Row& r : rows) QTest::newRow(r.name) << QRect(r.x, r.y, r.w, r.h) << r.glyph << r.bold;
    }

    void lcdElementsSitInTheirPlaces() {
        QFETCH(QRect, geometry);
        QFETCH(int, height);
        QFETCH(bool, bold);
        QWidget* w = find(QTest::currentDataTag());
        QVERIFY(w);
        QCOMPARE(w->parentWidget(), ui.Panel1);
        QCOMPARE(w->geometry(), geometry);
        if (height > 0) {
            QCOMPARE(w->metaObject()->className(), "LcdLabel");
            QCOMPARE(w->property("glyphHeight").toInt(), height);
            QCOMPARE(w->property("bold").toBool(), bold);
        } else {
            QCOMPARE(w->metaObject()->className(), "LcdPointShape");
        }
    }

    // The panel shows the light-blue background and black ink; a lit decimal point is a solid
    // black square.
    void lcdPanelLooksLikeTheMeter() {
        QCOMPARE(ui.Panel1->geometry(), QRect(3, 31, 283, 129));
        QCOMPARE(ui.LCD232C->geometry(), QRect(98, 15, 34, 16));
        QCOMPARE(ui.LCD232C->font().pixelSize(), 14);
        QVERIFY(ui.LCD232C->font().bold());

        QImage img = grab(ui.Panel1);
        QCOMPARE(QColor(img.pixel(150, 122)), QColor(145, 188, 253));
        int ink = 0;
        for (int y = 20; y < 132 && y < img.height(); ++y)
            for (int x = 40; x < 78; ++x) ink += qGray(img.pixel(x, y)) < 60 ? 1 : 0;
        QVERIFY2(ink > 400, "the first digit is drawn in dark segments");

        ui.LcdP2->show();
        img = grab(ui.Panel1);
        ui.LcdP2->hide();
        for (int y = 105; y < 113; ++y)
            for (int x = 127; x < 134; ++x) QCOMPARE(QColor(img.pixel(x, y)), QColor(Qt::black));
    }

    void companionIndicators() {
        QCOMPARE(ui.CONok->parentWidget(), ui.KD);
        QCOMPARE(ui.CONok->geometry(), QRect(5, 5, 25, 24));
        QCOMPARE(ui.CONokN->geometry(), QRect(5, 5, 25, 24));
        QCOMPARE(ui.oltext->geometry(), QRect(109, 72, 113, 49));
        QCOMPARE(ui.oltext->font().family(), QStringLiteral("Arial"));
        QCOMPARE(ui.oltext->font().pixelSize(), 35);
        QVERIFY(ui.oltext->font().bold());

        ui.oltext->show();
        const QImage sign = grab(ui.oltext);
        ui.oltext->hide();
        QCOMPARE(QColor(sign.pixel(6, 6)), QColor(255, 255, 0));

        // the link images and the alarm sign lie on top of the face
        QCOMPARE(ui.KD->childAt(10, 10), ui.CONokN);
        ui.oltext->show();
        QCOMPARE(ui.KD->childAt(112, 75), ui.oltext);
        ui.oltext->hide();
    }

    void minMaxReadout() {
        QCOMPARE(ui.Panel3->geometry(), QRect(3, 177, 283, 56));
        QCOMPARE(QColor(grab(ui.Panel3).pixel(130, 50)), QColor(165, 196, 209));
        QCOMPARE(ui.Label11->pos(), QPoint(8, 9));
        QCOMPARE(ui.Label12->pos(), QPoint(8, 29));
        QCOMPARE(ui.MinText->pos(), QPoint(48, 9));
        QCOMPARE(ui.MaxText->pos(), QPoint(48, 29));
        QCOMPARE(ui.MinTextU->pos(), QPoint(96, 9));
        QCOMPARE(ui.MaxTextU->pos(), QPoint(96, 29));
        for (QLabel* l : {ui.MinText, ui.MaxText}) {
            QCOMPARE(l->font().family(), QStringLiteral("Arial"));
            QCOMPARE(l->font().pixelSize(), 14);
            QVERIFY(l->font().italic());
        }
        QCOMPARE(ui.Label11->property("glyphHeight").toInt(), 12);
        QVERIFY(ui.Label11->property("bold").toBool());
        QCOMPARE(ui.MinTextU->property("glyphHeight").toInt(), 14);
        QVERIFY(!ui.MinTextU->property("bold").toBool());

        // unit texts show as on the LCD: "u" is the micro sign, "*" the ohm sign
        for (QLabel* unit : {ui.MinTextU, ui.MaxTextU}) {
            auto shown = [&](const QString& text) {
                unit->setText(text);
                return grab(unit);
            };
            QCOMPARE(shown("uF"), shown(QString::fromUtf8("\u00b5F")));
            QCOMPARE(shown("k*"), shown(QString::fromUtf8("k\u03a9")));
            QVERIFY(shown("uA") != shown("A"));
            unit->setText("*");
        }
    }

    void limitControls() {
        QCOMPARE(ui.Setmax->parentWidget(), ui.Panel3);
        QCOMPARE(ui.Setmax->geometry(), QRect(208, 3, 65, 21));
        QCOMPARE(ui.SetMin->geometry(), QRect(208, 26, 65, 21));
        QCOMPARE(ui.SetMaxB->geometry(), QRect(140, 6, 68, 17));
        QCOMPARE(ui.SetMinB->geometry(), QRect(140, 29, 65, 17));
        QCOMPARE(ui.Setmax->text(), QStringLiteral("4000"));
        QCOMPARE(ui.SetMin->text(), QStringLiteral("-4000"));
        QCOMPARE(ui.SetMaxB->text(), QStringLiteral("SetMax:"));
        QCOMPARE(ui.SetMinB->text(), QStringLiteral("SetMin: "));
        QVERIFY(!ui.SetMaxB->isChecked() && !ui.SetMinB->isChecked());
    }

    void scalePanelAndBar() {
        QCOMPARE(ui.KD->geometry(), QRect(290, 31, 318, 137));
        QCOMPARE(ui.KD->palette().color(QPalette::Window), QColor(Qt::white));
        QCOMPARE(ui.KD1->metaObject()->className(), "ScaleImageWidget");
        QCOMPARE(ui.KD1->geometry(), QRect(2, 2, 314, 133));
        QCOMPARE(find("KD2")->geometry(), QRect(294, 39, 316, 132));
        // the face fills the panel whatever size the window layout gives it
        ui.KD->resize(400, 200);
        QCoreApplication::sendPostedEvents();
        ui.KD->layout()->activate();
        QCOMPARE(ui.KD1->geometry(), QRect(2, 2, 396, 196));
        ui.KD->resize(318, 137);
        ui.KD->layout()->activate();

        QCOMPARE(ui.PBar2->geometry(), QRect(3, 161, 283, 12));
        QCOMPARE(ui.PBar2->minimum(), 0);
        QCOMPARE(ui.PBar2->maximum(), 40);
        QCOMPARE(ui.PBar2->value(), 30);
        QVERIFY(!ui.PBar2->isTextVisible());
    }

    void topRowButtons() {
        const QStringList captions{"COM /", "COM ,", "COM <", "COM >"};
        const QList<LcdButton*> ports{ui.BtCOM1, ui.BtCOM2, ui.BtCOM3, ui.BtCOM4};
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(ports[i]->text(), captions[i]);
            QCOMPARE(ports[i]->geometry(), ports[0]->geometry());
            QCOMPARE(ports[i]->isVisible(), i == 0);
        }
        QCOMPARE(ports[0]->pos(), QPoint(3, 2));

        // yellow caption on a blue face; a disabled indicator loses the bright yellow
        auto yellowPixels = [this](QWidget* w) {
            const QImage img = grab(w);
            int n = 0;
            for (int y = 0; y < img.height(); ++y)
                for (int x = 0; x < img.width(); ++x) n += img.pixel(x, y) == qRgb(255, 255, 0) ? 1 : 0;
            return n;
        };
        QCOMPARE(QColor(grab(ui.BtCOM1).pixel(4, 4)), QColor(0, 0, 255));
        QVERIFY(yellowPixels(ui.BtCOM1) > 20);
        ui.BtCOM1->setEnabled(false);
        QCOMPARE(yellowPixels(ui.BtCOM1), 0);
        ui.BtCOM1->setEnabled(true);

        QCOMPARE(ui.BTCon->geometry(), QRect(432, 2, 105, 26));
        QCOMPARE(ui.BtDiscon->geometry(), QRect(432, 2, 105, 26));
        QCOMPARE(ui.BtExit->geometry(), QRect(544, 2, 65, 26));
        QCOMPARE(ui.BTCon->text(), QStringLiteral("Connect"));
        QCOMPARE(ui.BtDiscon->text(), QStringLiteral("Disconnect"));
        QCOMPARE(ui.BtExit->text(), QStringLiteral("Exit"));
        QVERIFY(ui.BTCon->isVisible() && !ui.BtDiscon->isVisible() && ui.BtExit->isVisible());
    }

    void menus() {
        QStringList bar;
        for (QAction* a : window.menuBar()->actions()) bar << a->text();
        QCOMPARE(bar, QStringList({"ComSetup", "Connect", "", "Graphic", "Record", "", "Exit"}));
        QCOMPARE(window.menuBar()->actions().at(0)->menu(), ui.ComSetup1);
        QCOMPARE(window.menuBar()->actions().at(3)->menu(), ui.Graphic);
        QCOMPARE(window.menuBar()->actions().at(4)->menu(), ui.Record1);
        QCOMPARE(window.menuBar()->actions().last(), ui.EXIT1);
        QVERIFY(ui.EXIT1->menu() == nullptr && ui.EXIT1->isEnabled());

        const QList<QAction*> ports{ui.COM11, ui.COM21, ui.COM31, ui.COM41};
        QCOMPARE(ui.ComSetup1->actions(), ports);
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(ports[i]->text(), QStringLiteral("COM%1").arg(i + 1));
            QVERIFY(ports[i]->isCheckable());
            QCOMPARE(ports[i]->isChecked(), i == 0);
        }
        QCOMPARE(ui.Connect1->actions(), QList<QAction*>({ui.START1, ui.STOP1}));
        QCOMPARE(ui.START1->text(), QStringLiteral("START"));
        QCOMPARE(ui.STOP1->text(), QStringLiteral("STOP"));
        QVERIFY(ui.START1->isCheckable() && !ui.START1->isChecked() && ui.START1->isEnabled());
        QVERIFY(ui.STOP1->isCheckable() && !ui.STOP1->isChecked() && !ui.STOP1->isEnabled());
    }

    // Start-up reads the model switches in the order of ModelCheck; only the second is set.
    void hiddenModelSwitches() {
        const char* names[ModelCheckCount] = {"IFKR31A", "IFKR31E", "IFPAX900", "IF2285",  "IFTS510",
                                              "IFKR47B", "IFKR31D", "IFKR31F",  "IFKR31G", "IF7263x"};
        const char* captions[ModelCheckCount] = {"KR31A", "KR31E", "PAX-900", "22-85", "TS510/530",
                                                 "KR47B", "KR31D", "KR31F",   "KR31G", "IF7263x"};
        const ControlStates stored;
        for (int i = 0; i < ModelCheckCount; ++i) {
            auto* box = find<QCheckBox>(names[i]);
            QVERIFY2(box, names[i]);
            QCOMPARE(box->text(), QString::fromLatin1(captions[i]));
            QVERIFY(!box->isVisible());
            QCOMPARE(box->isChecked(), stored.checked(static_cast<ModelCheck>(i)));
        }
    }

    void chartAreaAndHiddenHelpers() {
        QCOMPARE(ui.Chtshow->geometry(), QRect(292, 173, 320, 233));
        QCOMPARE(ui.BtFill->parentWidget(), ui.Chtshow);
        QCOMPARE(ui.BtFill->geometry(), QRect(5, 5, 36, 17));
        QCOMPARE(ui.BtFill->text(), QStringLiteral("Fill"));
        QVERIFY(ui.BtFill->isChecked() && ui.BtFill->isVisible());
        QVERIFY(!ui.ComboBox1->isVisible());
        QCOMPARE(ui.ComboBox1->count(), 2);
        QCOMPARE(ui.ComboBox1->itemText(0), QStringLiteral("atile"));
        QCOMPARE(ui.ComboBox1->itemText(1), QStringLiteral("btile"));
        QVERIFY(!ui.Memo1->isVisible());
    }

    // Every caption of a check box shows whole: inside its box and under no control stacked on
    // top of it (the interval edit sits in the blanks of its caption). The Fill box keeps its
    // background under the font it is given.
    void captionsShowWhole() {
        for (QCheckBox* box : {ui.BtFill, ui.RepeatSet, ui.RecordSI, ui.SetMaxB, ui.SetMinB}) {
            QStyleOptionButton opt;
            opt.initFrom(box);
            const int left = box->style()->subElementRect(QStyle::SE_CheckBoxContents, &opt, box).left();
            const QString text = box->text();
            const QObjectList& stack = box->parentWidget()->children();
            for (const QString& piece : text.split(QRegularExpression(QStringLiteral("  +")))) {
                const int from = box->fontMetrics().horizontalAdvance(text.left(text.indexOf(piece)));
                const QRect inBox(left + from, 0, box->fontMetrics().horizontalAdvance(piece), box->height());
                QVERIFY2(inBox.right() < box->width(), qPrintable(piece));
                for (qsizetype i = stack.indexOf(box) + 1; i < stack.size(); ++i) {
                    auto* above = qobject_cast<QWidget*>(stack[i]);
                    QVERIFY2(!above || !above->isVisible() ||
                                 !above->geometry().intersects(inBox.translated(box->pos())),
                             qPrintable(piece));
                }
            }
        }
        QCOMPARE(QColor(grab(ui.BtFill).pixel(ui.BtFill->width() - 2, 8)), QColor(0xFD, 0xE9, 0xE1));
    }

    // Set DMM_FORM_PNG to a file name to keep a picture of the window as it starts.
    void picture() {
        const QString path = qEnvironmentVariable("DMM_FORM_PNG");
        if (path.isEmpty()) QSKIP("DMM_FORM_PNG not set");
        QVERIFY(window.grab().save(path));
    }
};

QTEST_MAIN(TstForm)
#include "tst_form.moc"

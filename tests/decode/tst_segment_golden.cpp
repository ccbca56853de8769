// Segment frames from tests/data run through the assembler, the decoder and the pipeline.
#include <QFile>
#include <QTest>
#include <set>

#include "FrameAssembler.h"
#include "LcdPanelModel.h"
#include "MeterEngine.h"
#include "RecordingSink.h"

using E = LcdElement;

namespace {

// Elements the segment decoder switches from frame bits.
const E kDriven[] = {E::LcdFH, E::LcdP1,   E::LcdP2,  E::LcdP3,   E::LcdAuto,  E::LCDRS,   E::LCD232C,
                     E::LCDBF, E::LCDHold, E::LCDRec, E::LCDBATT, E::LCDTRMST, E::LCDTRMS, E::LCDCS,
                     E::LCDDI, E::LCDFm,   E::LCDM1,  E::LCDk,    E::LCDHz,    E::LCDohm,  E::LCDu,
                     E::Lcdm,  E::LCDn,    E::LcdV,   E::LCDA,    E::LCDF,     E::LcdAC,   E::LcdDc1};

struct Row {
    QString frame, value, counts, unit, acdc, autoText, shown, scale, bar, chart, note;
};

QList<Row> loadRows() {
    QFile f(QStringLiteral(DMM_TEST_DATA_DIR "/segment_frames.tsv"));
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) qFatal("cannot open segment_frames.tsv");
    QList<Row> rows;
    while (!f.atEnd()) {
        const QString line = QString::fromUtf8(f.readLine()).chopped(1);
        if (line.isEmpty() || line.startsWith('#')) continue;
        const QStringList c = line.split('\t');
        if (c.size() != 11) qFatal("bad line in segment_frames.tsv: %s", qPrintable(line));
        rows.append({c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7], c[8], c[9], c[10]});
    }
    return rows;
}

QByteArray frameBytes(const QString& frameHex) {
    QByteArray bytes;
    for (int i = 0; i < frameHex.size(); ++i) {
        bytes.append(static_cast<char>(((i + 1) << 4) | QString(frameHex[i]).toInt(nullptr, 16)));
    }
    return bytes;
}

struct Meter {
    MeterState state;
    LcdPanelModel panel;
    ControlStates controls;
    RecordingSink sink;
    MeterEngine engine{state, panel, controls, sink};
    FrameTexts texts;
    int completed = 0;
    SegmentFrameAssembler assembler{texts, [this](const std::string& f) {
                                        if (engine.LcdDisplay31B(f)) ++completed;
                                    }};
    Meter() { state.family = FrameFamily::Segment; }
};

}  // namespace

Q_DECLARE_METATYPE(Row)

class SegmentGolden : public QObject {
    Q_OBJECT

private slots:
    void frames_data() {
        QTest::addColumn<Row>("row");
        for (const Row& r : loadRows()) QTest::newRow(qPrintable(r.note)) << r;
    }

    // Every captured frame, delivered as raw bytes in two chunks split mid-frame.
    void frames() {
        QFETCH(Row, row);
        Meter m;
        const QByteArray bytes = frameBytes(row.frame);
        m.assembler.H31BRData(bytes.constData(), 5);
        QCOMPARE(m.completed + static_cast<int>(m.state.DroppedFrames), 0);
        m.assembler.H31BRData(bytes.constData() + 5, bytes.size() - 5);
        QCOMPARE(QString::fromStdString(m.texts.FrameHex), row.frame);

        QCOMPARE(QString::fromStdString(m.state.ValueText), row.value);
        QCOMPARE(QString::fromStdString(m.state.UnitText), row.unit);
        QCOMPARE(QString::fromStdString(m.state.AcDcText), row.acdc);
        QCOMPARE(QString::fromStdString(m.state.AutoText), row.autoText);
        QVERIFY(m.panel.visible(E::CONok));
        QVERIFY(!m.panel.visible(E::CONokN));

        std::set<QString> shown;
        for (E e : kDriven) {
            if (m.panel.visible(e)) shown.insert(QString::fromLatin1(LcdPanelModel::name(e)));
        }
        std::set<QString> expected;
        if (row.shown != "-") {
            for (const QString& s : row.shown.split(',')) expected.insert(s);
        }
        QCOMPARE(shown, expected);

        if (row.counts == "drop") {
            QCOMPARE(m.completed, 0);
            QCOMPARE(m.state.DroppedFrames, 1u);
            QVERIFY(m.sink.kdrun.empty());
            QCOMPARE(m.sink.records, 0);
            QVERIFY(m.sink.points.empty());
            // the digits of the failed frame never reach the panel
            QCOMPARE(QString::fromStdString(m.panel.caption(E::LcdDa)), QStringLiteral("3"));
            return;
        }
        QCOMPARE(m.completed, 1);
        QCOMPARE(m.state.NumericValue, row.counts.toFloat());
        QCOMPARE(m.sink.kdrun, std::vector<int>{row.scale.toInt()});
        QCOMPARE(m.sink.bar, std::vector<int>{row.bar.toInt()});
        const double y = row.chart.toDouble();
        QCOMPARE(m.sink.points, (std::vector<std::pair<int, double>>{{1, y}, {2, y}}));
        QCOMPARE(m.sink.records, 1);
    }

    // Several frames in one chunk are decoded in arrival order, and noise between them is dropped.
    void chunkOfSeveralFrames() {
        const QList<Row> rows = loadRows();
        Meter m;
        QByteArray stream;
        stream.append(frameBytes(rows[0].frame).mid(6));  // starts mid-frame
        stream.append(frameBytes(rows[1].frame));
        stream.append(char(0x53));  // a stray byte in place of a lost one
        stream.append(frameBytes(rows[2].frame).mid(1));
        stream.append(frameBytes(rows[3].frame));
        m.assembler.H31BRData(stream.constData(), stream.size());
        QCOMPARE(m.completed, 2);
        QCOMPARE(m.sink.kdrun, (std::vector<int>{277, 799}));
    }
};

QTEST_GUILESS_MAIN(SegmentGolden)
#include "tst_segment_golden.moc"

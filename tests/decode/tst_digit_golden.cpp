// Digit frames from tests/data run through the decoder and the pipeline, as frame texts and as the
// byte stream a meter sends (CR LF after every frame), cut into chunks of several sizes.
#include <QFile>
#include <QTest>
#include <algorithm>

#include "FrameAssembler.h"
#include "tst_digit_meter.h"

namespace {

using E = LcdElement;

// Every annunciator and point of the LCD; the digit decoder drives most of them and must leave the
// rest off.
const E kAnnunciators[] = {
    E::LcdFH,   E::LcdP1,  E::LcdP2,   E::LcdP3,    E::LcdAuto, E::LCDRS,   E::LCD232C, E::LCDBF,
    E::LCDHold, E::LCDRec, E::LCDBATT, E::LCDTRMST, E::LcdRPM,  E::LCDTRMS, E::LCDBT,   E::LCDCS,
    E::LCDFS,   E::LCDDI,  E::LCDFm,   E::LCDM1,    E::LCDk,    E::LCDHz,   E::LCDohm,  E::LCDu,
    E::Lcdm,    E::LCDn,   E::LcdV,    E::LCDA,     E::LCDF,    E::LcdAC,   E::LcdDc1,
};
const E kDigits[] = {E::LcdDa, E::LcdDb, E::LcdDc, E::LcdDd};

struct Row {
    QString frame, models, value, counts, unit, acdc, autoText, shown, hidden, captions, name;
};

QList<Row> loadRows() {
    QFile f(QStringLiteral(DMM_TEST_DATA_DIR "/digit_frames.tsv"));
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) qFatal("cannot open digit_frames.tsv");
    QList<Row> rows;
    while (!f.atEnd()) {
        const QString line = QString::fromUtf8(f.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith('#')) continue;
        const QStringList c = line.split('\t');
        if (c.size() != 11) qFatal("bad line in digit_frames.tsv: %s", qPrintable(line));
        rows.append({c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7], c[8], c[9], c[10]});
    }
    return rows;
}

QString orEmpty(const QString& s) {
    return s == QLatin1String("-") ? QString() : s;
}

QString sortedSet(QStringList names) {
    names.sort();
    return names.join(' ');
}

// One line per frame holding everything the row states, so a mismatch shows all of it at once.
QString expected(const Row& r) {
    QString captions = r.captions;
    captions.replace('_', QString());
    return QStringList{r.name,
                       r.value,
                       r.counts,
                       orEmpty(r.unit),
                       orEmpty(r.acdc),
                       r.autoText,
                       sortedSet(orEmpty(r.shown).split(' ', Qt::SkipEmptyParts)),
                       sortedSet(orEmpty(r.hidden).split(' ', Qt::SkipEmptyParts)),
                       captions}
        .join(" | ");
}

QString actual(const Row& r, const DigitMeter& m, bool completed) {
    if (!completed) return r.name + QStringLiteral(" | frame was dropped");
    QStringList shown, hidden;
    for (E e : kAnnunciators) {
        if (m.panel.visible(e)) shown << QString::fromLatin1(LcdPanelModel::name(e));
    }
    QString captions;
    for (E e : kDigits) {
        if (!m.panel.visible(e)) hidden << QString::fromLatin1(LcdPanelModel::name(e));
        captions += m.caption(e);
    }
    return QStringList{r.name,
                       QString::fromStdString(m.state.ValueText),
                       QString::number(m.state.NumericValue, 'g', 10),
                       QString::fromStdString(m.state.UnitText),
                       QString::fromStdString(m.state.AcDcText),
                       QString::fromStdString(m.state.AutoText),
                       sortedSet(shown),
                       sortedSet(hidden),
                       captions}
        .join(" | ");
}

// LF (the end of the previous frame), the data bytes as the meter's ASCII digits, CR.
QByteArray frameBytes(const QString& frameHex) {
    QByteArray bytes;
    for (int i = 0; i < frameHex.size(); ++i) {
        const int nibble = QString(frameHex[i]).toInt(nullptr, 16);
        if (i == 0) {
            bytes.append('\n');
        } else if (i == frameHex.size() - 1) {
            bytes.append('\r');
        } else {
            bytes.append(static_cast<char>(0x30 | nibble));
        }
    }
    return bytes;
}

}  // namespace

class DigitGolden : public QObject {
    Q_OBJECT

private slots:
    // All rows in order through one meter, the way the window calls the decoder.
    void frameTexts() {
        const QList<Row> rows = loadRows();
        QVERIFY(rows.size() > 50);
        DigitMeter m;
        for (const Row& r : rows) {
            m.select(r.models);
            const bool completed = m.feed(r.frame.toLatin1().constData());
            QCOMPARE(actual(r, m, completed), expected(r));
        }
        QCOMPARE(m.state.DroppedFrames, 0u);
        QCOMPARE(m.sink.records, rows.size());
        QCOMPARE(static_cast<qsizetype>(m.sink.trace.size()), rows.size());
        QCOMPARE(QString::fromStdString(m.sink.trace.back()), rows.back().frame);
    }

    void byteStream_data() {
        QTest::addColumn<int>("chunk");  // 0: the whole stream at once
        QTest::newRow("byte by byte") << 1;
        QTest::newRow("7 bytes") << 7;
        QTest::newRow("100 bytes") << 100;
        QTest::newRow("one chunk") << 0;
    }

    // The same rows as one serial stream: each accepted frame must give the same reading.
    void byteStream() {
        QFETCH(int, chunk);
        const QList<Row> rows = loadRows();
        DigitMeter m;
        FrameTexts texts;
        QStringList got, want;
        int next = 0;
        DigitFrameAssembler assembler(texts, [&](const std::string& frameHex) {
            if (next >= rows.size()) {
                got << QStringLiteral("extra frame ") + QString::fromStdString(frameHex);
                return;
            }
            const Row& r = rows[next++];
            m.select(r.models);
            got << actual(r, m, m.engine.LcdDisplay47B(frameHex));
        });

        QByteArray stream("\r");  // the tail of a frame cut off before the capture began
        for (const Row& r : rows) {
            stream += frameBytes(r.frame);
            want << expected(r);
        }
        const int step = chunk > 0 ? chunk : static_cast<int>(stream.size());
        for (int at = 0; at < stream.size(); at += step) {
            assembler.H47BRData(stream.constData() + at, std::min<int>(step, stream.size() - at));
        }
        for (int i = 0; i < std::max(got.size(), want.size()); ++i) {
            QCOMPARE(got.value(i), want.value(i));
        }
        QVERIFY(texts.RxHexText.empty());
    }
};

QTEST_GUILESS_MAIN(DigitGolden)
#include "tst_digit_golden.moc"

#include <QtTest>
#include <string>
#include <vector>

#include "FrameAssembler.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The segment frame 0x10 0x21 ... 0xED: tag i+1 and low digit i in byte i.
Bytes countingSegmentFrame() {
    Bytes b;
    for (int i = 0; i < 14; ++i) b.push_back(uint8_t(((i + 1) << 4) | i));
    return b;
}

// Line feed, nine data bytes '0'..'8', carriage return.
Bytes digitFrame(uint8_t first = 0x0A) {
    Bytes b{first};
    for (uint8_t c = 0x30; c <= 0x38; ++c) b.push_back(c);
    b.push_back(0x0D);
    return b;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

// Collects the whole frames an assembler reports, and what the shared texts held at that moment.
struct Collector {
    FrameTexts texts;
    std::vector<std::string> frames;
    bool buffersEmptyAtEveryCall = true;

    void operator()(const std::string& frameHex) {
        frames.push_back(frameHex);
        if (frameHex != texts.FrameHex || !texts.RxHexText.empty() || !texts.RxTagText.empty())
            buffersEmptyAtEveryCall = false;
    }
};

struct Segment : Collector {
    SegmentFrameAssembler assembler{texts, [this](const std::string& f) { (*this)(f); }};
    void feed(const Bytes& b) { assembler.H31BRData(b.data(), int32_t(b.size())); }
};

struct Digit : Collector {
    DigitFrameAssembler assembler{texts, [this](const std::string& f) { (*this)(f); }};
    void feed(const Bytes& b) { assembler.H47BRData(b.data(), int32_t(b.size())); }
};

// Feeds the stream in pieces of the given sizes, the last size repeating until the stream ends.
template <typename A>
void feedInChunks(A& a, const Bytes& stream, const QList<int>& sizes) {
    std::size_t pos = 0;
    int i = 0;
    while (pos < stream.size()) {
        const std::size_t n = std::min<std::size_t>(std::size_t(sizes[std::min(i++, int(sizes.size()) - 1)]),
                                                    stream.size() - pos);
        a.feed(Bytes(stream.begin() + long(pos), stream.begin() + long(pos + n)));
        pos += n;
    }
}

}  // namespace

class TestFrameAssembler : public QObject {
    Q_OBJECT

private slots:
    void segmentFrameInAnySplit_data() {
        QTest::addColumn<int>("count");
        QTest::addColumn<QList<int>>("sizes");
        QTest::newRow("one chunk") << 1 << QList<int>{14};
        QTest::newRow("5 + 9") << 1 << QList<int>{5, 9};
        QTest::newRow("13 + 1") << 1 << QList<int>{13, 1};
        QTest::newRow("one byte per chunk") << 1 << QList<int>{1};
        QTest::newRow("ten frames, 64-byte chunks") << 10 << QList<int>{64};
        QTest::newRow("ten frames, 3-byte chunks") << 10 << QList<int>{3};
    }

    void segmentFrameInAnySplit() {
        QFETCH(int, count);
        QFETCH(QList<int>, sizes);
        Bytes stream;
        for (int i = 0; i < count; ++i) stream = concat({stream, countingSegmentFrame()});
        Segment s;
        feedInChunks(s, stream, sizes);

        QCOMPARE(s.frames, std::vector<std::string>(std::size_t(count), "0123456789ABCD"));
        QCOMPARE(s.texts.FrameHex, std::string("0123456789ABCD"));
        QVERIFY(s.texts.RxHexText.empty());
        QVERIFY(s.texts.RxTagText.empty());
        QVERIFY(s.buffersEmptyAtEveryCall);
    }

    void segmentBrokenFramesAreDroppedAndAssemblyRecovers() {
        Segment s;
        const Bytes whole = countingSegmentFrame();

        // Start in mid-frame: the tail is published but not decoded.
        s.feed(Bytes(whole.begin() + 7, whole.end()));
        QCOMPARE(s.texts.FrameHex, std::string("789ABCD"));
        QVERIFY(s.frames.empty());
        s.feed(whole);
        QCOMPARE(s.frames.size(), std::size_t(1));

        // A stray end-tagged byte in fifth place cuts the frame in two; both pieces are dropped.
        Bytes stray = whole;
        stray.insert(stray.begin() + 4, 0xE3);
        s.feed(Bytes(stray.begin(), stray.begin() + 5));
        QCOMPARE(s.texts.FrameHex, std::string("01233"));
        s.feed(Bytes(stray.begin() + 5, stray.end()));
        QCOMPARE(s.texts.FrameHex, std::string("456789ABCD"));
        QCOMPARE(s.frames.size(), std::size_t(1));

        // A lost byte, a repeated byte and two swapped bytes: the tags do not run 1..E.
        Bytes lost = whole;
        lost.erase(lost.begin() + 6);
        Bytes repeated = whole;
        repeated.insert(repeated.begin() + 3, whole[3]);
        Bytes swapped = whole;
        std::swap(swapped[1], swapped[2]);
        s.feed(concat({lost, repeated, swapped}));
        QCOMPARE(s.frames.size(), std::size_t(1));

        s.feed(whole);
        QCOMPARE(s.frames.size(), std::size_t(2));
        QVERIFY(s.texts.RxHexText.empty());
    }

    void digitFraming_data() {
        QTest::addColumn<Bytes>("stream");
        QTest::addColumn<QStringList>("frames");
        QTest::addColumn<QString>("lastFrameHex");

        const Bytes frame = digitFrame();
        QTest::newRow("lone CR then whole frame")
            << concat({{0x0D}, frame}) << QStringList{"A012345678D"} << "A012345678D";
        QTest::newRow("first byte 0x8A") << digitFrame(0x8A) << QStringList{"A012345678D"} << "A012345678D";
        QTest::newRow("first byte 0x30") << digitFrame(0x30) << QStringList{} << "0012345678D";
        Bytes ten = frame;
        ten.erase(ten.begin() + 4);
        QTest::newRow("ten bytes") << ten << QStringList{} << "A01245678D";
        // 0x8D is data: the frame runs on to the real CR and is judged on its first and eleventh bytes.
        Bytes highCr = frame;
        highCr.insert(highCr.begin() + 3, 0x8D);
        QTest::newRow("0x8D inside") << highCr << QStringList{} << "A01D2345678D";
        Bytes longer = frame;
        longer[10] = 0x1D;
        longer.insert(longer.end(), {0x31, 0x32, 0x0D});
        QTest::newRow("longer, D at eleventh") << longer << QStringList{"A012345678D12D"} << "A012345678D12D";
        QTest::newRow("two frames in one chunk")
            << concat({frame, digitFrame(0x8A)}) << QStringList{"A012345678D", "A012345678D"}
            << "A012345678D";
    }

    void digitFraming() {
        QFETCH(Bytes, stream);
        QFETCH(QStringList, frames);
        QFETCH(QString, lastFrameHex);

        for (const int chunk : {int(stream.size()), 1}) {
            Digit d;
            feedInChunks(d, stream, {chunk});
            QStringList got;
            for (const std::string& f : d.frames) got << QString::fromStdString(f);
            QCOMPARE(got, frames);
            QCOMPARE(QString::fromStdString(d.texts.FrameHex), lastFrameHex);
            QVERIFY(d.texts.RxHexText.empty());
            QVERIFY(d.buffersEmptyAtEveryCall);
        }
    }

    void framesInOneChunkDecodeInOrder() {
        // Different frames, so the order can be seen.
        Bytes second = countingSegmentFrame();
        second[0] = 0x1F;
        Segment s;
        s.feed(concat({countingSegmentFrame(), second}));
        QCOMPARE(s.frames, (std::vector<std::string>{"0123456789ABCD", "F123456789ABCD"}));

        Digit d;
        Bytes other = digitFrame();
        other[1] = 0x39;
        d.feed(concat({digitFrame(), other}));
        QCOMPARE(d.frames, (std::vector<std::string>{"A012345678D", "A912345678D"}));
    }

    void nothingToAssemble() {
        Segment s;
        const Bytes whole = countingSegmentFrame();
        s.assembler.H31BRData(whole.data(), 0);
        s.assembler.H31BRData(whole.data(), -5);
        s.assembler.H31BRData(nullptr, 14);
        Digit d;
        d.assembler.H47BRData(whole.data(), -1);
        QVERIFY(s.texts.RxHexText.empty() && d.texts.RxHexText.empty());
        QVERIFY(s.frames.empty() && d.frames.empty());
    }

    void endlessFrameStaysBounded() {
        // A line that never sends an end byte (wrong rate, another device) must not grow memory.
        const Bytes noise(100000, 0x55);
        Segment s;
        s.feed(noise);
        QCOMPARE(s.texts.RxHexText.size(), kMaxFrameTextLength);
        QCOMPARE(s.texts.RxTagText.size(), kMaxFrameTextLength);
        s.feed(countingSegmentFrame());  // its end byte closes the noise
        QCOMPARE(s.texts.FrameHex.size(), kMaxFrameTextLength);
        QVERIFY(s.frames.empty());
        s.feed(countingSegmentFrame());
        QCOMPARE(s.frames.size(), std::size_t(1));

        // The bound does not change how a long digit frame is judged: A first, D eleventh.
        Bytes longFrame = digitFrame();
        longFrame[10] = 0x1D;
        longFrame.insert(longFrame.end(), noise.begin(), noise.begin() + 1000);
        longFrame.push_back(0x0D);
        Digit d;
        d.feed(longFrame);
        QCOMPARE(d.frames.size(), std::size_t(1));
        QCOMPARE(d.frames[0].size(), kMaxFrameTextLength);
        QCOMPARE(d.frames[0].substr(0, 11), std::string("A012345678D"));
        d.feed(digitFrame());
        QCOMPARE(d.frames.size(), std::size_t(2));
        QCOMPARE(d.frames[1], std::string("A012345678D"));
    }
};

QTEST_GUILESS_MAIN(TestFrameAssembler)
#include "tst_frameassembler.moc"

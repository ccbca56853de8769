// The window against a simulated meter on a pseudo-terminal, in real time: readings reach the LCD
// widgets within a polling period of the frame's last byte, the link image follows the stream,
// the frame trace stays bounded, and damaged or random input never shows a reading nobody sent.
#include <QElapsedTimer>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSet>
#include <QTest>
#include <QTextBlock>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <random>
#include <set>
#include <thread>

#include "FrameEncoder.h"
#include "LineOutput.h"
#include "Scenario.h"
#include "SimRunner.h"
#include "TFCOMM.h"
#include "WindowTestSupport.h"
#include "ui_TFCOMM.h"

using namespace dmmsim;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

namespace {

// A reading must be on the LCD within one polling period of its last byte, plus this much for
// a busy machine to get round to the timer.
constexpr int kPollMs = 50;
constexpr int kSchedulingMarginMs = 40;

double msBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

QString caption(TFCOMM& w, const char* name) {
    auto* label = w.findChild<QLabel*>(QString::fromLatin1(name));
    if (!label) qFatal("no label %s", name);
    return label->text();
}

// What the LCD widgets show, written down like a reading: sign, digit captions and lit points,
// then the annunciators these tests follow. Leading zeros the digit-frame meters blank stay in,
// since blanking hides a digit without changing its caption.
QString shownReading(TFCOMM& w) {
    QString s = shown(w, "LcdFH") ? QStringLiteral("-") : QString();
    const char* digits[] = {"LcdDa", "LcdDb", "LcdDc", "LcdDd"};
    const char* points[] = {"LcdP1", "LcdP2", "LcdP3", nullptr};
    for (int i = 0; i < 4; ++i) {
        s += caption(w, digits[i]);
        if (points[i] && shown(w, points[i])) s += '.';
    }
    s += ' ';
    if (shown(w, "LcdAC")) s += QStringLiteral("AC ");
    if (shown(w, "LcdAuto")) s += QStringLiteral("AUTO ");
    if (shown(w, "Lcdm")) s += 'm';
    if (shown(w, "LCDk")) s += 'k';
    if (shown(w, "LcdV")) s += 'V';
    if (shown(w, "LCDohm")) s += QStringLiteral("ohm");
    return s;
}

// The same for a reading the meter sends (never an overload here).
QString expectedReading(const SimReading& r) {
    QString s = QString::fromStdString(r.text()) + ' ';
    if (r.coupling == Coupling::Ac) s += QStringLiteral("AC ");
    if (r.autoRange) s += QStringLiteral("AUTO ");
    if (r.prefix == Prefix::Milli) s += 'm';
    if (r.prefix == Prefix::Kilo) s += 'k';
    if (r.function == SimFunction::Volts) s += 'V';
    if (r.function == SimFunction::Ohms) s += QStringLiteral("ohm");
    return s;
}

SimModel modelNamed(const char* caption) {
    std::string error;
    const auto m = simModelFor(caption, false, &error);
    if (!m) qFatal("%s", error.c_str());
    return *m;
}

// Readings that differ from each other in digits, point, sign, unit, coupling and range mode.
std::vector<SimReading> distinctReadings(const SimModel& model, int count, double topVolts) {
    struct Kind {
        SimFunction f;
        Coupling c;
        double first, last;
    };
    const Kind kinds[] = {
        {SimFunction::Volts, Coupling::Dc, 1.0, topVolts},
        {SimFunction::Volts, Coupling::Ac, 0.1, 0.3},
        {SimFunction::Ohms, Coupling::None, 1500, 3500},
        {SimFunction::Volts, Coupling::Dc, -0.02, -0.3},
    };
    std::vector<SimReading> out;
    for (int i = 0; i < count; ++i) {
        const Kind& k = kinds[i % 4];
        const double share = count > 1 ? double(i) / (count - 1) : 0;
        SimReading r = fitReading(model, k.f, k.first + share * (k.last - k.first), k.c);
        r.autoRange = i % 3 != 2;
        out.push_back(r);
    }
    return out;
}

// The meter's side of the line: a pseudo-terminal whose master a thread of its own writes at the
// line's pace. The body gets the paced writer and the stop flag.
class SimulatedLine {
public:
    using Body = std::function<void(PacedWriter&, const std::atomic<bool>&)>;

    explicit SimulatedLine(int baud) : pty_(PseudoTerminal::create(&error_)), baud_(baud) {}
    ~SimulatedLine() {
        stop_ = true;
        finish();
    }

    bool ok() const { return pty_ != nullptr; }
    const std::string& error() const { return error_; }
    std::string slavePath() const { return pty_ ? pty_->slavePath() : std::string(); }

    void start(Body body) {
        done_ = false;
        thread_ = std::thread([this, body = std::move(body)] {
            // bytes are dropped rather than waited for, so a window that stops reading fails a
            // check instead of hanging the test
            PacedWriter writer(pty_->masterFd(), baud_, PacedWriter::Full::Drop);
            body(writer, stop_);
            dropped_ += writer.bytesDropped();
            done_ = true;
        });
    }
    bool done() const { return done_; }
    void finish() {
        if (thread_.joinable()) thread_.join();
    }
    uint64_t dropped() const { return dropped_; }

private:
    std::string error_;
    std::unique_ptr<PseudoTerminal> pty_;
    int baud_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> done_{true};
    std::atomic<uint64_t> dropped_{0};
};

// Sits between the driver and the window's assembler: counts the frames each chunk ends and notes
// what the LCD shows, and when, right after the window has dealt with the chunk.
struct ChunkProbe {
    struct Change {
        Clock::time_point at;
        QString reading;
        int frames;  // the frames whose last byte had come when the reading showed
    };
    std::vector<Change> changes;
    int chunks = 0;
    int maxFramesInChunk = 0;
    int frames = 0;

    void attach(TFCOMM& w) {
        const bool digit = w.meterState().family == FrameFamily::Digit;
        last_ = shownReading(w);
        auto inner = w.COMM2().OnReceiveData();
        w.COMM2().setOnReceiveData([this, inner, digit, &w](TCommPortDriver* s, const void* data, int32_t n) {
            inner(s, data, n);
            const auto now = Clock::now();
            ++chunks;
            const auto* b = static_cast<const uint8_t*>(data);
            const int ends = static_cast<int>(
                std::count_if(b, b + n, [digit](uint8_t x) { return digit ? x == 0x0D : (x >> 4) == 0xE; }));
            maxFramesInChunk = std::max(maxFramesInChunk, ends);
            frames += ends;
            const QString r = shownReading(w);
            if (r != last_) changes.push_back({now, r, frames});
            last_ = r;
        });
    }

    QStringList readings() const {
        QStringList out;
        for (const Change& c : changes) out << c.reading;
        return out;
    }

private:
    QString last_;
};

// Notes when the two link images are shown and hidden.
class LinkWatch : public QObject {
public:
    struct Event {
        Clock::time_point at;
        bool linkGood;  // CONok shown (or CONokN hidden)
    };
    std::vector<Event> events;

    explicit LinkWatch(TFCOMM& w)
        : good_(w.findChild<QWidget*>("CONok")), lost_(w.findChild<QWidget*>("CONokN")) {
        good_->installEventFilter(this);
        lost_->installEventFilter(this);
    }

    bool eventFilter(QObject* o, QEvent* e) override {
        const bool show = e->type() == QEvent::Show;
        if (show || e->type() == QEvent::Hide) events.push_back({Clock::now(), (o == good_) == show});
        return false;
    }

private:
    QWidget* good_;
    QWidget* lost_;
};

QStringList traceLines(TFCOMM& w) {
    w.form()->Memo1->show();
    return w.form()->Memo1->toPlainText().split('\n', Qt::SkipEmptyParts);
}

void connectWindow(TFCOMM& w) {
    w.show();
    w.BTCon1Click();
    if (!w.COMM2().Connected()) qFatal("the window did not open its port");
}

// Writes the frames of `readings`, each frame starting `period` after the one before, and notes
// when the last byte of each was handed to the line.
SimulatedLine::Body pacedFrames(const SimModel& model, const std::vector<SimReading>& readings,
                                std::chrono::milliseconds period, std::vector<Clock::time_point>& written) {
    return [&model, &readings, period, &written](PacedWriter& writer, const std::atomic<bool>& stop) {
        if (model.family == FrameFamily::Digit) writer.write(&kDigitFrameLead, 1, stop);
        for (const SimReading& r : readings) {
            const Bytes f = encodeFrame(model, r);
            if (!writer.write(f.data(), f.size(), stop)) return;
            written.push_back(Clock::now());
            writer.idle(period - lineTime(f.size(), model.baud));
        }
    };
}

}  // namespace

class WindowLive : public QObject {
    Q_OBJECT

private slots:
    void segmentReadingsReachTheLcdWithinAPoll();
    void digitFramesSeveralToAChunk();
    void traceKeepsTheLastThousandFrames();
    void slowMeterKeepsTheLcdLive();
    void repeatedReadingRepaintsOnlyTheLinkPicture();
    void noiseNeverShowsAReadingNobodySent_data();
    void noiseNeverShowsAReadingNobodySent();
    void framesThatCannotBeCompletedAreCounted();
    void randomBytesThenGoodFrames();
};

// KR31E at 2400 baud: every reading shows on time, the link image stays good while frames come
// and goes out two to three watchdog ticks after the last one.
void WindowLive::segmentReadingsReachTheLcdWithinAPoll() {
    const SimModel model = modelNamed("KR31E");
    SimulatedLine line(model.baud);
    QVERIFY2(line.ok(), line.error().c_str());
    auto w = makeWindow({"--port", "COM1=" + line.slavePath(), "--model", "KR31E"});
    ChunkProbe probe;
    probe.attach(*w);
    LinkWatch link(*w);
    connectWindow(*w);

    const auto readings = distinctReadings(model, 16, 3.9);
    QStringList expected;
    for (const auto& r : readings) expected << expectedReading(r);
    QCOMPARE(QSet<QString>(expected.begin(), expected.end()).size(), expected.size());

    std::vector<Clock::time_point> written;
    const auto started = Clock::now();
    line.start(pacedFrames(model, readings, std::chrono::milliseconds(95), written));
    QTRY_VERIFY_WITH_TIMEOUT(line.done(), 10000);
    line.finish();
    QCOMPARE(line.dropped(), uint64_t(0));
    QTRY_VERIFY_WITH_TIMEOUT(shown(*w, "CONokN"), 10000);
    QVERIFY(!shown(*w, "CONok"));

    // what showed is what was sent, in order, each reading as the poll that brought its last byte
    // hands it on; one whose frame came in the poll of the next is passed over (how late a poll
    // comes is the machine's: the latency is only reported)
    double worst = 0;
    std::size_t next = 0;
    for (std::size_t i = 0; i < readings.size() && next < probe.changes.size(); ++i) {
        const ChunkProbe::Change& c = probe.changes[next];
        if (c.reading != expected[qsizetype(i)]) continue;
        ++next;
        worst = std::max(worst, msBetween(written[i], c.at));
        QVERIFY2(c.frames == int(i) + 1,
                 qPrintable(QStringLiteral("reading %1 showed after frame %2").arg(i).arg(c.frames)));
    }
    QVERIFY2(next == probe.changes.size(), qPrintable(probe.readings().join(QStringLiteral(" | "))));
    QCOMPARE(probe.changes.back().reading, expected.back());

    // link good from the first frame to the last, then lost once
    const auto lastShown = probe.changes.back().at;
    std::vector<LinkWatch::Event> after;
    for (const auto& e : link.events) {
        if (e.at >= started) after.push_back(e);
    }
    QVERIFY(!after.empty());
    QVERIFY(after.front().linkGood);
    const auto lost = std::find_if(after.begin(), after.end(), [](const auto& e) { return !e.linkGood; });
    QVERIFY(lost != after.end());
    const double lostAfter = msBetween(lastShown, lost->at);
    QVERIFY2(lostAfter >= 150 && lostAfter <= 300 + kSchedulingMarginMs,
             qPrintable(QStringLiteral("link lost %1 ms after the last frame").arg(lostAfter)));
    qInfo(
        "segment frames: worst latency %.1f ms over %zu readings; link lost %.1f ms after the last "
        "frame was shown (%.1f ms after its last byte)",
        worst, readings.size(), lostAfter, msBetween(written.back(), lost->at));
}

// KR31G at 19200 baud: frames come in bursts of three, so a poll often finds several; each one
// is decoded (the trace lists them all, CR LF framed) and the last of a burst shows on time.
void WindowLive::digitFramesSeveralToAChunk() {
    const SimModel model = modelNamed("KR31G");
    SimulatedLine line(model.baud);
    QVERIFY2(line.ok(), line.error().c_str());
    auto w = makeWindow({"--port", "COM1=" + line.slavePath(), "--model", "KR31G"});
    ChunkProbe probe;
    probe.attach(*w);
    connectWindow(*w);

    constexpr int kBurst = 3;
    const auto readings = distinctReadings(model, 36, 5.9);  // above 4000 counts: the 6000-count range
    std::vector<Clock::time_point> written;
    line.start([&](PacedWriter& writer, const std::atomic<bool>& stop) {
        writer.write(&kDigitFrameLead, 1, stop);
        for (std::size_t i = 0; i < readings.size(); ++i) {
            const Bytes f = encodeFrame(model, readings[i]);
            if (!writer.write(f.data(), f.size(), stop)) return;
            written.push_back(Clock::now());
            if (i % kBurst == kBurst - 1) writer.idle(std::chrono::milliseconds(80));
        }
    });
    QTRY_VERIFY_WITH_TIMEOUT(line.done(), 10000);
    line.finish();
    QCOMPARE(line.dropped(), uint64_t(0));
    QTRY_COMPARE_WITH_TIMEOUT(probe.frames, int(readings.size()), 10000);

    QStringList frames;
    for (const auto& r : readings) frames << QString::fromStdString(frameHexOf(model, encodeFrame(model, r)));
    QCOMPARE(traceLines(*w), frames);
    QVERIFY2(probe.maxFramesInChunk > 1, qPrintable(QString::number(probe.maxFramesInChunk)));

    // what showed is a subsequence of what was sent, and holds the last frame of every burst
    double worst = 0;
    std::size_t next = 0;
    for (std::size_t i = 0; i < readings.size(); ++i) {
        const QString want = expectedReading(readings[i]);
        const bool mustShow = i % kBurst == kBurst - 1;
        if (next < probe.changes.size() && probe.changes[next].reading == want) {
            const ChunkProbe::Change& shownAt = probe.changes[next];
            ++next;
            if (!mustShow) continue;
            worst = std::max(worst, msBetween(written[i], shownAt.at));
            QVERIFY2(
                shownAt.frames == int(i) + 1,
                qPrintable(QStringLiteral("reading %1 showed after frame %2").arg(i).arg(shownAt.frames)));
        } else {
            QVERIFY2(!mustShow, qPrintable(QStringLiteral("reading %1 (%2) never showed").arg(i).arg(want)));
        }
    }
    QCOMPARE(next, probe.changes.size());
    QCOMPARE(w->meterState().DroppedFrames, uint64_t(0));

    // every reading has a time of its own, from the arrival of its last byte: the rows of one
    // poll are as far apart as their frames were on the line, the last no later than the poll
    const RecordTable& rows = w->recordTable();
    QCOMPARE(rows.rowCount(), int64_t(readings.size()));
    const auto lineMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(lineTime(11, model.baud)).count();
    for (int64_t i = 1; i < rows.rowCount(); ++i) {
        const int32_t gap = rows.row(i).timeMs - rows.row(i - 1).timeMs;
        QVERIFY2(gap >= lineMs - 1 || gap < -86000000,
                 qPrintable(QStringLiteral("rows %1 and %2 are %3 ms apart").arg(i - 1).arg(i).arg(gap)));
    }
    qInfo("digit frames: worst latency %.1f ms, up to %d frames in one chunk", worst, probe.maxFramesInChunk);
}

// A meter at its own pace, three readings a second: the link picture goes dark between frames,
// the LCD does not dim. Before the first connection it shows the form's start state at full
// strength; once the frames stop for good it dims.
void WindowLive::slowMeterKeepsTheLcdLive() {
    const SimModel model = modelNamed("KR31G");
    SimulatedLine line(model.baud);
    QVERIFY2(line.ok(), line.error().c_str());
    auto w = makeWindow({"--port", "COM1=" + line.slavePath(), "--model", "KR31G"});
    auto dimmed = [&w] {
        auto* e = qobject_cast<QGraphicsOpacityEffect*>(w->form()->LcdDa->graphicsEffect());
        return e && e->isEnabled() && e->opacity() < 0.5;
    };
    w->show();
    QTest::qWait(500);
    QVERIFY(shown(*w, "CONokN") && !dimmed());
    connectWindow(*w);

    std::vector<Clock::time_point> written;
    const auto readings = distinctReadings(model, 16, 3.9);
    line.start(pacedFrames(model, readings, std::chrono::milliseconds(330), written));
    int linkDark = 0;
    while (!line.done()) {
        QTest::qWait(50);
        if (written.empty()) continue;
        QVERIFY2(!dimmed(), qPrintable(QStringLiteral("dimmed after %1 frames").arg(written.size())));
        linkDark += shown(*w, "CONokN");
    }
    line.finish();
    QVERIFY2(linkDark > 10, qPrintable(QString::number(linkDark)));  // the link picture keeps its rule
    QTest::qWait(1000);
    QVERIFY(!dimmed());
    QTRY_VERIFY_WITH_TIMEOUT(dimmed(), 1500);
    QCOMPARE(shownReading(*w), expectedReading(readings.back()));  // the last reading stays, dimmed
}

// Notes the paint events of the widgets given.
class PaintCount : public QObject {
public:
    explicit PaintCount(const QList<QWidget*>& widgets) {
        for (QWidget* w : widgets) w->installEventFilter(this);
    }
    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() == QEvent::Paint) painted << o->objectName() + '/' + o->metaObject()->className();
        return false;
    }
    QStringList painted;
};

// A meter at its own pace that repeats its reading changes nothing on screen but the link picture
// (and the chart's new points): the LCD, the face, the bar, MIN/MAX and the record grid are not
// painted again.
void WindowLive::repeatedReadingRepaintsOnlyTheLinkPicture() {
    const SimModel model = modelNamed("KR31G");
    SimulatedLine line(model.baud);
    QVERIFY2(line.ok(), line.error().c_str());
    auto w = makeWindow({"--port", "COM1=" + line.slavePath(), "--model", "KR31G"});
    connectWindow(*w);
    const std::vector<SimReading> readings(7, fitReading(model, SimFunction::Volts, 2.345, Coupling::Dc));
    std::vector<Clock::time_point> written;
    line.start(pacedFrames(model, readings, std::chrono::milliseconds(330), written));
    // the second reading brings MIN/MAX their values; from then on nothing changes
    QTRY_VERIFY_WITH_TIMEOUT(w->lineWatch().counts().wholeFrames >= 2, 3000);
    QTest::qWait(100);
    Ui::TFCOMM& ui = *w->form();
    QList<QWidget*> parts = {ui.KD, ui.KD1, ui.PBar2, ui.Panel1, ui.Panel3, ui.DBGrid1};
    for (QWidget* part : parts.mid(3)) parts += part->findChildren<QWidget*>();
    PaintCount still(parts);
    PaintCount link({ui.CONok, ui.CONokN});
    QTRY_VERIFY_WITH_TIMEOUT(line.done(), 5000);
    line.finish();
    QTRY_COMPARE_WITH_TIMEOUT(w->lineWatch().counts().wholeFrames, uint64_t(readings.size()), 1000);
    QTRY_VERIFY_WITH_TIMEOUT(shown(*w, "CONokN"), 1000);
    QVERIFY2(still.painted.isEmpty(), qPrintable(still.painted.join(' ')));
    QVERIFY2(link.painted.size() >= 8, qPrintable(QString::number(link.painted.size())));
}

void WindowLive::traceKeepsTheLastThousandFrames() {
    const SimModel model = modelNamed("KR31G");
    auto w = makeWindow({"--model", "KR31G"});
    SimReading r = fitReading(model, SimFunction::Volts, 1.0, Coupling::Dc);
    Bytes stream{kDigitFrameLead};
    QStringList frames;
    for (int i = 0; i < 1200; ++i) {
        const QByteArray digits = QByteArray::number(i).rightJustified(4, '0');
        std::copy(digits.begin(), digits.end(), r.digits.begin());
        const Bytes f = encodeFrame(model, r);
        stream.insert(stream.end(), f.begin(), f.end());
        frames << QString::fromStdString(frameHexOf(model, f));
    }
    // in chunks that cut frames anywhere, as polls do
    for (std::size_t at = 0; at < stream.size(); at += 97) {
        const auto n = static_cast<int32_t>(std::min<std::size_t>(97, stream.size() - at));
        w->COMM2().OnReceiveData()(&w->COMM2(), stream.data() + at, n);
    }
    const QStringList lines = traceLines(*w);
    QCOMPARE(lines.size(), 1000);
    QCOMPARE(lines.front(), frames[200]);
    QCOMPARE(lines.back(), frames.back());
    QCOMPARE(caption(*w, "LcdDa") + caption(*w, "LcdDb") + caption(*w, "LcdDc") + caption(*w, "LcdDd"),
             QStringLiteral("1199"));
}

void WindowLive::noiseNeverShowsAReadingNobodySent_data() {
    QTest::addColumn<QString>("modelCaption");
    QTest::addColumn<int>("frames");
    QTest::addColumn<int>("intervalMs");
    QTest::newRow("KR31E") << "KR31E" << 40 << 0;
    QTest::newRow("KR31G") << "KR31G" << 150 << 10;
}

// The simulator's noise: lost, extra, corrupt and stray end bytes and a start in mid-frame. The
// damaged frames never reach a decoder; every whole one does, and the LCD only ever shows those.
void WindowLive::noiseNeverShowsAReadingNobodySent() {
    QFETCH(QString, modelCaption);
    QFETCH(int, frames);
    QFETCH(int, intervalMs);
    const SimModel model = modelNamed(qPrintable(modelCaption));
    SimulatedLine line(model.baud);
    QVERIFY2(line.ok(), line.error().c_str());
    auto w = makeWindow({"--port", "COM1=" + line.slavePath(), "--model", modelCaption.toStdString()});
    ChunkProbe probe;
    probe.attach(*w);
    connectWindow(*w);

    ScenarioOptions options;
    options.kind = ScenarioKind::Noise;
    options.seed = 11;
    ScenarioStream stream(model, options);
    RunOptions run;
    run.frames = static_cast<uint64_t>(frames);
    run.interval = std::chrono::milliseconds(intervalMs);
    std::vector<Emission> sent;
    line.start([&](PacedWriter& writer, const std::atomic<bool>& stop) {
        runPaced(stream, writer, run, stop, [&sent](const Emission& e) { sent.push_back(e); });
    });
    QTRY_VERIFY_WITH_TIMEOUT(line.done(), 10000);
    line.finish();
    QTest::qWait(3 * kPollMs);

    std::set<QString> whole;
    QStringList wholeFrames;
    QString lastWhole;
    int damaged = 0;
    for (const Emission& e : sent) {
        if (!e.whole) {
            ++damaged;
            continue;
        }
        lastWhole = expectedReading(*e.reading);
        whole.insert(lastWhole);
        wholeFrames << QString::fromStdString(frameHexOf(model, e.bytes));
    }
    QVERIFY2(damaged >= frames / 10, qPrintable(QString::number(damaged)));
    for (const auto& c : probe.changes) QVERIFY2(whole.count(c.reading), qPrintable(c.reading));
    QCOMPARE(shownReading(*w), lastWhole);
    QCOMPARE(w->meterState().DroppedFrames, uint64_t(0));
    if (model.family == FrameFamily::Digit) QCOMPARE(traceLines(*w), wholeFrames);
    qInfo("%s: %d of %d frames damaged, %zu readings shown", qPrintable(modelCaption), damaged, frames,
          probe.changes.size());
}

// Frames the assembler passes but the decoder or the pipeline cannot complete: a blank display,
// a range code that is no digit, a digit that is no digit. Each is counted once and the next good
// frame shows as usual.
void WindowLive::framesThatCannotBeCompletedAreCounted() {
    for (const char* name : {"KR31E", "KR31G"}) {
        const SimModel model = modelNamed(name);
        SimulatedLine line(model.baud);
        QVERIFY2(line.ok(), line.error().c_str());
        auto w = makeWindow({"--port", "COM1=" + line.slavePath(), "--model", name});
        connectWindow(*w);

        const SimReading good = fitReading(model, SimFunction::Volts, 1.234, Coupling::Dc);
        const SimReading after = fitReading(model, SimFunction::Volts, 2.345, Coupling::Dc);
        std::vector<Bytes> bad;
        if (model.family == FrameFamily::Segment) {
            SimReading blank = good;
            blank.digits = {' ', ' ', ' ', ' '};
            bad = {encodeFrame(model, blank), encodeFrame(model, blank)};
        } else {
            Bytes range = encodeFrame(model, good), digit = range;
            range[0] = 0x3B;
            digit[2] = 0x3C;
            bad = {range, digit};
        }
        line.start([&](PacedWriter& writer, const std::atomic<bool>& stop) {
            if (model.family == FrameFamily::Digit) writer.write(&kDigitFrameLead, 1, stop);
            Bytes f = encodeFrame(model, good);
            writer.write(f.data(), f.size(), stop);
            for (const Bytes& b : bad) writer.write(b.data(), b.size(), stop);
            f = encodeFrame(model, after);
            writer.write(f.data(), f.size(), stop);
        });
        QTRY_VERIFY_WITH_TIMEOUT(line.done(), 5000);
        line.finish();
        QTRY_COMPARE_WITH_TIMEOUT(shownReading(*w), expectedReading(after), 1000);
        QCOMPARE(w->meterState().DroppedFrames, uint64_t(bad.size()));
    }
}

// Random bytes on the line for a second, then random chunks straight into the receive handler,
// both families: the window survives, and two good frames after any garbage show the second.
void WindowLive::randomBytesThenGoodFrames() {
    std::mt19937 rng(4711);
    {
        const SimModel model = modelNamed("KR31G");
        SimulatedLine line(model.baud);
        QVERIFY2(line.ok(), line.error().c_str());
        auto w = makeWindow({"--port", "COM1=" + line.slavePath(), "--model", "KR31G"});
        connectWindow(*w);
        Bytes noise(1900);
        for (auto& b : noise) b = static_cast<uint8_t>(rng());
        const SimReading good = fitReading(model, SimFunction::Volts, 4.321, Coupling::Dc);
        line.start([&](PacedWriter& writer, const std::atomic<bool>& stop) {
            writer.write(noise.data(), noise.size(), stop);
            const Bytes f = encodeFrame(model, good);
            for (int i = 0; i < 2; ++i) writer.write(f.data(), f.size(), stop);
        });
        QTRY_VERIFY_WITH_TIMEOUT(line.done(), 5000);
        line.finish();
        QTRY_COMPARE_WITH_TIMEOUT(shownReading(*w), expectedReading(good), 1000);
        QVERIFY(shown(*w, "CONok"));
    }

    for (const char* name : {"KR31E", "KR31G"}) {
        const SimModel model = modelNamed(name);
        auto w = makeWindow({"--model", name});
        const auto feed = [&w](const Bytes& b) {
            w->COMM2().OnReceiveData()(&w->COMM2(), b.data(), static_cast<int32_t>(b.size()));
        };
        const auto readings = distinctReadings(model, 2 * 150, 3.9);
        if (model.family == FrameFamily::Digit) feed({kDigitFrameLead});
        for (int round = 0; round < 150; ++round) {
            // plain random bytes, or frames with the family's framing and random contents, which
            // get through the assembler to the decoders
            Bytes garbage(rng() % 300);
            for (std::size_t i = 0; i < garbage.size(); ++i) {
                if (round % 2 == 0) {
                    garbage[i] = static_cast<uint8_t>(rng());
                } else if (model.family == FrameFamily::Segment) {
                    garbage[i] = static_cast<uint8_t>(((i % 14 + 1) << 4) | (rng() & 0xF));
                } else {
                    const std::size_t k = i % 11;
                    garbage[i] = k == 9 ? 0x0D : k == 10 ? 0x0A : static_cast<uint8_t>(0x30 | (rng() & 0xF));
                }
            }
            feed(garbage);
            feed(encodeFrame(model, readings[2 * round]));
            feed(encodeFrame(model, readings[2 * round + 1]));
            QCOMPARE(shownReading(*w), expectedReading(readings[2 * round + 1]));
        }
        QVERIFY2(w->meterState().DroppedFrames > 0, name);
    }
}

QTEST_MAIN(WindowLive)
#include "tst_window_live.moc"

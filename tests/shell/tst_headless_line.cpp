// The headless run and its line: the hint on standard error when nothing could be read, and the
// bytes kept with --save-bytes, refused where keeping them would lose or destroy something.
#include <QTemporaryDir>
#include <QTest>
#include <fstream>
#include <random>
#include <sstream>

#include "AppOptions.h"
#include "FrameEncoder.h"
#include "HeadlessRunner.h"

using namespace dmmsim;

namespace {

struct Run {
    int code;
    std::string out;
    std::string err;
};

Run decode(const std::vector<std::string>& args, const std::string& input) {
    const OptionsResult r = parseOptions(args);
    if (!r.error.empty()) return {2, "", r.error};
    std::istringstream in(input);
    std::ostringstream out;
    std::ostringstream err;
    const int code = runHeadless(r.options, in, out, err);
    return {code, out.str(), err.str()};
}

// Frames a meter of `caption` sends, as one string of bytes.
std::string meterBytes(const char* caption, int frames) {
    const auto model = simModelFor(caption, false);
    std::string out;
    if (model->family == FrameFamily::Digit) out.push_back(static_cast<char>(kDigitFrameLead));
    for (int i = 0; i < frames; ++i) {
        for (uint8_t b : encodeFrame(*model, fitReading(*model, SimFunction::Volts, 1.5, Coupling::Dc)))
            out.push_back(char(b));
    }
    return out;
}

std::string fileText(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

}  // namespace

class HeadlessLine : public QObject {
    Q_OBJECT

private slots:
    void hintWhenNothingCouldBeRead() {
        const std::string kr31e = meterBytes("KR31E", 10);
        Run r = decode({"--decode", "-", "--model", "KR47B"}, kr31e);
        QCOMPARE(r.code, 0);
        QVERIFY(r.out.empty());
        QVERIFY2(r.err.find("No reading from standard input: " + std::to_string(kr31e.size()) +
                            " bytes arrived") != std::string::npos,
                 r.err.c_str());
        QVERIFY2(r.err.find("KR31E") != std::string::npos, r.err.c_str());
        QCOMPARE(std::count(r.err.begin(), r.err.end(), '\n'), 1L);  // one message, said once

        r = decode({"--decode", "-"}, "");
        QCOMPARE(r.err, std::string("No reading from standard input: no bytes arrived.\n"));

        r = decode({"--decode", "-"}, kr31e);  // the right model says nothing
        QCOMPARE(r.err, std::string());
        QCOMPARE(std::count(r.out.begin(), r.out.end(), '\n'), 10L);
    }

    // Every byte, as it came, appended run after run.
    void savedBytesAreTheInput() {
        QTemporaryDir dir;
        const std::string path = dir.filePath("kept.bin").toStdString();
        std::mt19937 rng(3);
        std::string noise(5000, '\0');
        for (char& c : noise) c = static_cast<char>(rng());
        const std::string frames = meterBytes("KR31E", 3);
        QCOMPARE(decode({"--decode", "-", "--save-bytes", path}, noise).code, 0);
        const Run second = decode({"--decode", "-", "--save-bytes", path}, frames);
        QCOMPARE(second.code, 0);
        QCOMPARE(fileText(path), noise + frames);
        QCOMPARE(decode({"--decode", path}, "").out, decode({"--decode", "-"}, noise + frames).out);
    }

    void saveRefusedWhereBytesWouldBeLost_data() {
        QTest::addColumn<QString>("saveTo");  // "@" stands for the decoded file itself
        QTest::addColumn<QString>("words");
        QTest::newRow("the decoded file") << "@"
                                          << "it is the file being decoded";
        QTest::newRow("a directory") << "."
                                     << "cannot write";
        QTest::newRow("not a plain file") << "/dev/null"
                                          << "it is not a plain file";
        QTest::newRow("missing folder") << "nosuch/kept.bin"
                                        << "No such file or directory";
    }
    void saveRefusedWhereBytesWouldBeLost() {
        QFETCH(QString, saveTo);
        QFETCH(QString, words);
        QTemporaryDir dir;
        const std::string capture = dir.filePath("capture.bin").toStdString();
        std::ofstream(capture, std::ios::binary) << meterBytes("KR31E", 2);
        std::string target = saveTo.toStdString();
        if (saveTo == "@")
            target = capture;
        else if (!saveTo.startsWith('/'))
            target = dir.filePath(saveTo).toStdString();
        const Run r = decode({"--decode", capture, "--save-bytes", target}, "");
        QCOMPARE(r.code, 2);
        QVERIFY2(r.err.find(words.toStdString()) != std::string::npos, r.err.c_str());
        QVERIFY(r.out.empty());
        QCOMPARE(fileText(capture), meterBytes("KR31E", 2));
    }
};

QTEST_GUILESS_MAIN(HeadlessLine)
#include "tst_headless_line.moc"

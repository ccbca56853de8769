// Pulls a meter's pseudo-terminal again and again under the meter line and times every return.
// The line reads a link (as a by-id name is) to the slave of a pseudo-terminal fed a frame every
// 100 ms; each pull closes the master and removes the link, and after a pause of 0.3 to 1.5 s a
// new pseudo-terminal takes the link. A return counts from the new link to the line's report of
// the device being back, and must stay within 2 s; the first reading after it is timed too.
// Usage: line_pulls [pulls]   (50 by default; minutes, not part of the test suite)
#include <pty.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "MeterLine.h"
#include "ModelProfiles.h"

namespace {

// 1.234 V DC AUTO of a segment meter
std::string frameBytes() {
    const std::string hex = "705DB1F2700040";
    std::string bytes;
    for (std::size_t i = 0; i < hex.size(); ++i)
        bytes.push_back(static_cast<char>(((i + 1) << 4) | std::stoi(hex.substr(i, 1), nullptr, 16)));
    return bytes;
}

struct Pty {
    int master = -1;
    std::string slave;
    Pty() {
        int s = -1;
        char name[128] = {};
        if (openpty(&master, &s, name, nullptr, nullptr) == 0) {
            slave = name;
            ::close(s);
        }
    }
    ~Pty() {
        if (master >= 0) ::close(master);
    }
};

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(p * double(v.size() - 1) + 0.5))];
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int pulls = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
    QTemporaryDir dir;
    const QString link = dir.filePath("ttyMeter");
    auto pty = std::make_unique<Pty>();
    if (pty->slave.empty() || !QFile::link(QString::fromStdString(pty->slave), link)) {
        std::fprintf(stderr, "no pseudo-terminal\n");
        return 2;
    }

    ReadingSink sink;
    MeterLine line(sink);
    chooseModel(line.controls(), std::string("KR31E"), false);
    prepareMeterState(line.controls(), line.state());
    line.devices().setDevicePath(pnCOM1, link.toStdString());
    line.driver().setComPort(pnCOM1);
    line.driver().setComPortSpeed(br2400);

    const std::string frame = frameBytes();
    QTimer feeder;
    feeder.setInterval(100);
    QObject::connect(&feeder, &QTimer::timeout, [&] {
        if (pty && pty->master >= 0) (void)!::write(pty->master, frame.data(), frame.size());
    });

    std::mt19937 random(7);
    std::uniform_int_distribution<int> pauseMs(300, 1500);
    QElapsedTimer linked;
    std::vector<double> returnMs, firstReadingMs;
    int lost = 0, late = 0;
    bool awaitingFirst = false;
    uint64_t readingsAtReturn = 0;

    // after five readings on a line, it is pulled
    auto pull = [&] {
        feeder.stop();
        pty.reset();
        QFile::remove(link);
        QTimer::singleShot(pauseMs(random), [&] {
            pty = std::make_unique<Pty>();
            QFile::link(QString::fromStdString(pty->slave), link);
            linked.start();
            feeder.start();
        });
    };
    line.hooks().lost = [&](const LineLoss&) { ++lost; };
    line.hooks().back = [&](const LineBack&) {
        const double ms = double(linked.nsecsElapsed()) / 1e6;
        returnMs.push_back(ms);
        if (ms > 2000) ++late;
        awaitingFirst = true;
        readingsAtReturn = line.readings();
    };
    line.hooks().reading = [&](const MeterReading&) {
        if (awaitingFirst) {
            firstReadingMs.push_back(double(linked.nsecsElapsed()) / 1e6);
            awaitingFirst = false;
        }
        if (line.readings() - readingsAtReturn == 5) {
            if (int(returnMs.size()) == pulls) {
                app.quit();
                return;
            }
            QTimer::singleShot(0, pull);
        }
    };
    if (!line.open(link.toStdString())) {
        std::fprintf(stderr, "cannot open %s: %s\n", qPrintable(link), line.error().c_str());
        return 2;
    }
    feeder.start();
    // no pull may hang the run: at most 10 s each
    QTimer::singleShot(pulls * 10000, &app, [&] { app.exit(3); });
    const int code = app.exec();

    std::printf("pulls %d, losses reported %d, returns %zu, returns over 2 s %d\n", pulls, lost,
                returnMs.size(), late);
    if (!returnMs.empty()) {
        std::printf(
            "return after the device is there again (ms): min %.0f, median %.0f, p90 %.0f, max %.0f\n",
            percentile(returnMs, 0), percentile(returnMs, 0.5), percentile(returnMs, 0.9),
            percentile(returnMs, 1));
    }
    if (!firstReadingMs.empty()) {
        std::printf("first reading after it (ms): median %.0f, max %.0f\n", percentile(firstReadingMs, 0.5),
                    percentile(firstReadingMs, 1));
    }
    if (code != 0 || int(returnMs.size()) != pulls || late > 0) {
        std::printf("FAILED\n");
        return 1;
    }
    return 0;
}

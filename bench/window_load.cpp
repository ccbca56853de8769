// The window as dmmview starts it, with the state of a long day already in it, for measuring the
// live window (bench_cpu.sh): --rows N starts with N rows stored (Repeat off, no record limit, so
// every reading becomes a row), --points N leaves N points in the chart after every New (the first
// reading makes one), --per-page M starts the points-per-page box at M, --width W and --height H
// size the window, --enlarge enlarges the chart over it. Every other argument is dmmview's own.
// On SIGUSR1 it prints one line to standard output: the milliseconds since start and how many times
// the chart, the LCD panel, the meter face and the bar have been repainted so far, how many paint
// passes the window has had, and how many times the link picture (which lies on the face but is
// not counted with it) has been repainted.
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QSocketNotifier>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <array>
#include <cmath>
#include <csignal>
#include <iostream>

#include "AppOptions.h"
#include "RecordGrid.h"
#include "TFCOMM.h"
#include "ui_TFCOMM.h"

namespace {

struct Load {
    int64_t rows = 0;
    int64_t points = 0;
    std::optional<QString> perPage;
};

class LoadedWindow : public TFCOMM {
public:
    LoadedWindow(const AppOptions& options, int64_t points) : TFCOMM(options), points_(points) {}

    void BtNewClick() override {
        TFCOMM::BtNewClick();
        if (points_ <= 0) return;
        const float amplitude = 0.8f * static_cast<float>(meterState().FullScale);
        for (int64_t i = 0; i < points_; ++i) {
            const float y = std::round(amplitude * std::sin(static_cast<float>(i % 6400) * 0.000981748f));
            for (int s = 0; s < ChartPoints::SeriesCount; ++s) chartPoints().add(s, y);
        }
        ShowSeries(form()->BtFill->isChecked() ? 0 : 1);
    }

private:
    int64_t points_;
};

// Counts repaints of a few parts of the window. Qt paints every dirty widget of a window in one
// pass started by an update request, so a part counts once per pass in which any of its widgets
// was painted. A widget counts with the first part it lies in.
class PaintCounter : public QObject {
public:
    static constexpr int kParts = 5;
    explicit PaintCounter(const std::array<std::vector<QWidget*>, kParts>& parts) : parts_(parts) {}

    const std::array<int64_t, kParts>& counts() const { return counts_; }
    int64_t passes() const { return pass_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::UpdateRequest) ++pass_;
        if (event->type() != QEvent::Paint || !watched->isWidgetType()) return false;
        const auto* w = static_cast<QWidget*>(watched);
        for (int i = 0; i < kParts; ++i) {
            const auto& roots = parts_[i];
            if (std::none_of(roots.begin(), roots.end(),
                             [w](QWidget* r) { return r == w || r->isAncestorOf(w); })) {
                continue;
            }
            if (counted_[i] != pass_) {
                counted_[i] = pass_;
                ++counts_[i];
            }
            break;
        }
        return false;
    }

private:
    std::array<std::vector<QWidget*>, kParts> parts_;
    std::array<int64_t, kParts> counts_{};
    std::array<int64_t, kParts> counted_{-1, -1, -1, -1, -1};
    int64_t pass_ = 0;
};

int askPipe[2] = {-1, -1};

bool takeCount(std::vector<std::string>& args, const std::string& name, int64_t& count) {
    for (std::size_t i = 0; i + 1 < args.size(); ++i) {
        if (args[i] != name) continue;
        count = std::stoll(args[i + 1]);
        args.erase(args.begin() + long(i), args.begin() + long(i) + 2);
        return true;
    }
    return false;
}

}  // namespace

int main(int argc, char* argv[]) {
    std::vector<std::string> args(argv + 1, argv + argc);
    Load load;
    int64_t perPage = 0;
    int64_t width = 0;
    int64_t height = 0;
    const auto enlarge = std::find(args.begin(), args.end(), "--enlarge");
    const bool enlarged = enlarge != args.end();
    if (enlarged) args.erase(enlarge);
    takeCount(args, "--width", width);
    takeCount(args, "--height", height);
    takeCount(args, "--rows", load.rows);
    takeCount(args, "--points", load.points);
    if (takeCount(args, "--per-page", perPage)) load.perPage = QString::number(perPage);
    // the load is measured with the model given here, not the one a user kept
    args.push_back("--no-settings");
    const OptionsResult parsed = parseOptions(args);
    if (!parsed.error.empty()) {
        std::cerr << parsed.error << "\n";
        return 2;
    }

    QApplication app(argc, argv);
    LoadedWindow window(parsed.options, load.points);
    if (load.perPage) window.form()->Maxrecord->setText(*load.perPage);
    if (load.rows > 0) {
        window.form()->RepeatSet->setChecked(false);
        window.form()->limitess->trigger();
        window.recordStore().fillForTest(load.rows);
        // made-up rows need no keeping safe
        window.recordJournal().restart(window.recordTable().rowCount());
        window.form()->DBGrid1->refresh();
    }
    Ui::TFCOMM& ui = *window.form();
    // the link picture first: it lies on the face
    const std::array<std::vector<QWidget*>, PaintCounter::kParts> parts = {
        std::vector<QWidget*>{ui.CONok, ui.CONokN}, {ui.Chtshow}, {ui.Panel1}, {ui.KD}, {ui.PBar2}};
    PaintCounter counter(parts);
    // on the window (for its update requests) and the counted widgets only: a filter on the whole
    // application would see every timer and socket event and be counted as the program's work
    window.installEventFilter(&counter);
    for (const auto& roots : parts) {
        for (QWidget* part : roots) {
            part->installEventFilter(&counter);
            for (QWidget* child : part->findChildren<QWidget*>()) child->installEventFilter(&counter);
        }
    }
    QElapsedTimer clock;
    clock.start();
    // the signal handler only writes a byte to a pipe; the event loop answers when it is readable,
    // so the benchmark adds no timer of its own to the window it measures
    if (::pipe(askPipe) != 0) return 1;
    std::signal(SIGUSR1, [](int) {
        const char byte = 1;
        if (::write(askPipe[1], &byte, 1) < 0) {
            // nothing to do in a signal handler
        }
    });
    QSocketNotifier asked(askPipe[0], QSocketNotifier::Read);
    QObject::connect(&asked, &QSocketNotifier::activated, [&] {
        char byte = 0;
        if (::read(askPipe[0], &byte, 1) < 0) return;
        const auto& c = counter.counts();
        std::cout << clock.elapsed() << ' ' << c[1] << ' ' << c[2] << ' ' << c[3] << ' ' << c[4] << ' '
                  << counter.passes() << ' ' << c[0] << std::endl;
    });
    window.show();
    if (width > 0 && height > 0) window.resize(int(width), int(height));
    if (enlarged) window.form()->TbFd->click();
    return app.exec();
}

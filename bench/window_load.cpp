// The window as dmmview starts it, with the state of a long day already in it, for measuring the
// live window (bench_cpu.sh): --rows N starts with N rows stored (Repeat off, no record limit, so
// every reading becomes a row), --points N leaves N points in the chart after every New (the first
// reading makes one), --per-page M starts the points-per-page box at M. Every other argument is
// dmmview's own.
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <cmath>
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
    window.show();
    return app.exec();
}

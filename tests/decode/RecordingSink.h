#pragma once

#include <string>
#include <utility>
#include <vector>

#include "ReadingSink.h"

// Records what a reading drives, in call order, for tests of the decoding path.
struct RecordingSink : ReadingSink {
    std::vector<std::string> calls;
    std::vector<int> kdrun;
    std::vector<int> bar;
    std::vector<std::pair<int, double>> points;
    std::vector<std::pair<double, double>> axes;
    int beeps = 0;
    int kdsetups = 0;
    int records = 0;
    int news = 0;
    std::vector<int> shownSeries;

    void redrawScale() override {
        ++kdsetups;
        calls.push_back("redrawScale");
    }
    void movePointer(int p) override {
        kdrun.push_back(p);
        calls.push_back("movePointer");
    }
    void setBarPosition(int p) override {
        bar.push_back(p);
        calls.push_back("bar");
    }
    void beep() override {
        ++beeps;
        calls.push_back("beep");
    }
    void recordReading() override {
        ++records;
        calls.push_back("recordReading");
    }
    void showChartSeries(int i) override {
        shownSeries.push_back(i);
        calls.push_back("showChartSeries");
    }
    void clearChart() override {
        ++news;
        calls.push_back("clearChart");
    }
    void setChartLeftAxis(double mx, double mn) override {
        axes.emplace_back(mx, mn);
        calls.push_back("axis");
    }
    void addChartPoint(int s, double y) override {
        points.emplace_back(s, y);
        calls.push_back("point" + std::to_string(s));
    }
    void followLastPage() override { calls.push_back("follow"); }
};

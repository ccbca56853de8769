#pragma once

#include <string_view>

// What a decoded reading drives besides the LCD: the analog scale and bar, the alarm beep, the
// record store and the trend chart. Each consumer overrides what it serves; the rest do nothing,
// so the decoders run the same with no window at all.
class ReadingSink {
public:
    virtual ~ReadingSink() = default;

    // analog scale and bar: the face drawn anew (a new range or count), the pointer moved to a
    // scale position
    virtual void redrawScale() {}
    virtual void movePointer(int /*position*/) {}
    virtual void setBarPosition(int /*position*/) {}

    // alarm beyond an armed limit
    virtual void beep() {}

    // record store: the reading is offered to it
    virtual void recordReading() {}

    // trend chart: series 0 is the line, 1 the area; a new range or unit starts the chart anew
    virtual void showChartSeries(int /*index*/) {}
    virtual void clearChart() {}
    virtual void setChartLeftAxis(double /*maximum*/, double /*minimum*/) {}
    // series 1 is the line, series 2 the area; each point is labelled "paper" and blue
    virtual void addChartPoint(int /*series*/, double /*y*/) {}
    // moves the chart to its last page and shows that page number on the page button
    virtual void followLastPage() {}

    // trace of received digit frames
    virtual void traceFrame(std::string_view /*frameHex*/) {}
};

// Forwards every call to another sink; consumers derive from it to add one behaviour.
class ForwardingSink : public ReadingSink {
public:
    explicit ForwardingSink(ReadingSink* next = nullptr) : next_(next) {}
    void setNext(ReadingSink* next) { next_ = next; }

    void redrawScale() override {
        if (next_) next_->redrawScale();
    }
    void movePointer(int p) override {
        if (next_) next_->movePointer(p);
    }
    void setBarPosition(int p) override {
        if (next_) next_->setBarPosition(p);
    }
    void beep() override {
        if (next_) next_->beep();
    }
    void recordReading() override {
        if (next_) next_->recordReading();
    }
    void showChartSeries(int i) override {
        if (next_) next_->showChartSeries(i);
    }
    void clearChart() override {
        if (next_) next_->clearChart();
    }
    void setChartLeftAxis(double mx, double mn) override {
        if (next_) next_->setChartLeftAxis(mx, mn);
    }
    void addChartPoint(int s, double y) override {
        if (next_) next_->addChartPoint(s, y);
    }
    void followLastPage() override {
        if (next_) next_->followLastPage();
    }
    void traceFrame(std::string_view f) override {
        if (next_) next_->traceFrame(f);
    }

private:
    ReadingSink* next_;
};

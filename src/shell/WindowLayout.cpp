#include "WindowLayout.h"

#include <cmath>

namespace WindowLayoutRules {

namespace {

void restoreChart(WindowLayout& l) {
    l.TbSxVisible = false;
    l.TbFdVisible = true;
    l.Chtshow.setWidth(l.saved.ChartSavedWidth);
    l.Chtshow.setHeight(l.saved.ChartSavedHeight);
    l.Chtshow.moveLeft(l.saved.ChartSavedLeft);
    l.Chtshow.moveTop(l.saved.ChartSavedTop);
}

}  // namespace

int roundProduct(float factor, float h) {
    const float product = factor * h;
    // the default rounding mode sends halves to the even integer
    return static_cast<int>(std::nearbyint(product));
}

void FormResize(WindowLayout& l, QSize outer) {
    const int W = outer.width();
    const int H = outer.height();
    if (l.TbSxVisible) restoreChart(l);

    l.BtExitLeft = W - 80;
    l.BTConLeft = W - 190;
    l.BtDisconLeft = W - 190;

    l.DBGrid1.setHeight(H - 311);

    l.Chtshow.setWidth(W - 302);
    l.KD.setWidth(W - 303);
    l.KD2.setWidth(W - 305);

    const float h = static_cast<float>(H - 87);
    l.KD.setHeight(roundProduct(0.37f, h));
    l.KD2.setHeight(l.KD.height() - 6);
    l.Chtshow.setHeight(roundProduct(0.61f, h));
    l.Chtshow.moveTop(l.KD.height() + 38);
}

void TbFdClick(WindowLayout& l, QSize outer) {
    if (!l.TbSxVisible) {
        l.TbFdVisible = false;
        l.TbSxVisible = true;
        l.saved.ChartSavedTop = l.Chtshow.top();
        l.saved.ChartSavedLeft = l.Chtshow.left();
        l.saved.ChartSavedHeight = l.Chtshow.height();
        l.saved.ChartSavedWidth = l.Chtshow.width();
        l.Chtshow.setWidth(outer.width() - 12);
        l.Chtshow.setHeight(outer.height() - 85);
        l.Chtshow.moveLeft(2);
        l.Chtshow.moveTop(28);
    } else {
        restoreChart(l);
    }
}

}  // namespace WindowLayoutRules

#pragma once

#include <QWidget>

// A decimal point of the LCD: a solid black square filling the widget.
class LcdPointShape : public QWidget {
    Q_OBJECT

public:
    explicit LcdPointShape(QWidget* parent = nullptr) : QWidget(parent) {}

protected:
    void paintEvent(QPaintEvent* event) override;
};

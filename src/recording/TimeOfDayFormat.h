#pragma once

#include <QLocale>
#include <QString>
#include <cstdint>
#include <string>
#include <vector>

// The time of day as the system writes it, with seconds and without a time-zone name, turned
// into a list of pieces once so that millions of rows are formatted without QTime.
class TimeOfDayFormat {
public:
    explicit TimeOfDayFormat(const QLocale& locale = QLocale::system());

    // The locale's long time format with every time-zone field taken out; seconds added after
    // the minutes should the format lack them.
    static QString patternFor(const QLocale& locale);

    QString pattern() const { return pattern_; }

    // The time of day `ms` as the screen and the report show it; empty for no time of day.
    QString text(int32_t ms) const;

    // Appends the time of day `ms` (milliseconds since midnight) in the system's 8-bit encoding.
    void append(std::string& out, int32_t ms) const;

private:
    enum Kind { Literal, Hour24, Hour12, Minute, Second, Millis, MillisTrimmed, AmPm };
    struct Piece {
        Kind kind;
        int digits = 0;      // 2 for a zero-padded field
        std::string text;    // Literal; AmPm: the AM text
        std::string pmText;  // AmPm: the PM text
    };
    void appendNumber(std::string& out, int value, int digits) const;

    QLocale locale_;
    QString pattern_;
    std::vector<Piece> pieces_;
    std::string digits_[10];
};

// Text in the system's 8-bit encoding; UTF-8 input.
std::string toSystemEncoding(const QString& text);

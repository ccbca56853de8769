#include "TimeOfDayFormat.h"

#include <QStringEncoder>
#include <QTime>

namespace {

// Splits a Qt time format into runs of one repeated letter and quoted or plain literals.
struct Run {
    QChar letter;  // null for a literal
    int count = 0;
    QString text;  // literal text
};

bool isFieldLetter(QChar c) {
    return c == u'h' || c == u'H' || c == u'm' || c == u's' || c == u'z' || c == u'a' || c == u'A' ||
           c == u'p' || c == u'P' || c == u't';
}

std::vector<Run> splitFormat(const QString& format) {
    std::vector<Run> runs;
    auto addLiteral = [&](const QString& s) {
        if (!runs.empty() && runs.back().letter.isNull())
            runs.back().text += s;
        else
            runs.push_back({QChar(), 0, s});
    };
    for (qsizetype i = 0; i < format.size();) {
        const QChar c = format[i];
        if (c == u'\'') {
            QString text;
            qsizetype j = i + 1;
            if (j < format.size() && format[j] == u'\'') {  // '' is one quote
                addLiteral(QStringLiteral("'"));
                i = j + 1;
                continue;
            }
            for (; j < format.size(); ++j) {
                if (format[j] == u'\'') {
                    if (j + 1 < format.size() && format[j + 1] == u'\'') {
                        text += u'\'';
                        ++j;
                        continue;
                    }
                    break;
                }
                text += format[j];
            }
            addLiteral(text);
            i = j + 1;
        } else if (isFieldLetter(c)) {
            qsizetype j = i;
            while (j < format.size() && format[j] == c) ++j;
            runs.push_back({c, int(j - i), {}});
            i = j;
        } else {
            addLiteral(QString(c));
            ++i;
        }
    }
    return runs;
}

QString quoted(const QString& literal) {
    QString text = literal;
    text.replace(QStringLiteral("'"), QStringLiteral("''"));
    return QLatin1Char('\'') + text + QLatin1Char('\'');
}

}  // namespace

std::string toSystemEncoding(const QString& text) {
    QStringEncoder encoder(QStringConverter::System);
    const QByteArray bytes = encoder.encode(text);
    return bytes.toStdString();
}

QString TimeOfDayFormat::patternFor(const QLocale& locale) {
    const std::vector<Run> all = splitFormat(locale.timeFormat(QLocale::LongFormat));
    // Drop time-zone fields with the blanks that set them apart.
    auto isBlank = [](QChar c) { return c.isSpace() || c == QChar(0x00A0) || c == QChar(0x202F); };
    std::vector<Run> runs;
    bool zoneBefore = false;
    for (const Run& r : all) {
        if (r.letter == u't') {
            if (!runs.empty() && runs.back().letter.isNull()) {
                QString& text = runs.back().text;
                while (!text.isEmpty() && isBlank(text.back())) text.chop(1);
            }
            zoneBefore = true;
            continue;
        }
        runs.push_back(r);
        if (zoneBefore && r.letter.isNull() && runs.size() == 1) {
            QString& text = runs.back().text;
            while (!text.isEmpty() && isBlank(text.front())) text.remove(0, 1);
        }
        zoneBefore = false;
    }
    QString pattern;
    bool hasSeconds = false;
    for (const Run& r : runs) hasSeconds |= r.letter == u's';
    for (const Run& r : runs) {
        if (r.letter.isNull()) {
            if (!r.text.isEmpty()) pattern += quoted(r.text);
            continue;
        }
        pattern += QString(r.count, r.letter);
        if (r.letter == u'm' && !hasSeconds) {
            pattern += QStringLiteral("':'ss");
            hasSeconds = true;
        }
    }
    return pattern;
}

void TimeOfDayFormat::appendNumber(std::string& out, int value, int digits) const {
    int reversed[4];
    int n = 0;
    do {
        reversed[n++] = value % 10;
        value /= 10;
    } while (value > 0 && n < 4);
    for (int i = n; i < digits; ++i) out += digits_[0];
    while (n > 0) out += digits_[reversed[--n]];
}

TimeOfDayFormat::TimeOfDayFormat(const QLocale& locale) : locale_(locale), pattern_(patternFor(locale)) {
    // Digits as the locale writes them (some locales have digits of their own).
    for (int d = 0; d < 10; ++d) digits_[d] = toSystemEncoding(locale.toString(d));
    const std::vector<Run> runs = splitFormat(pattern_);
    bool twelveHour = false;
    for (const Run& r : runs) twelveHour |= (r.letter == u'a' || r.letter == u'A');
    for (size_t i = 0; i < runs.size(); ++i) {
        const Run& r = runs[i];
        const char16_t c = r.letter.unicode();
        if (r.letter.isNull()) {
            pieces_.push_back({Literal, 0, toSystemEncoding(r.text), {}});
            continue;
        }
        int left = r.count;
        while (left > 0) {
            int take = std::min(left, 2);
            switch (c) {
                case u'h':
                    pieces_.push_back({twelveHour ? Hour12 : Hour24, take, {}, {}});
                    break;
                case u'H':
                    pieces_.push_back({Hour24, take, {}, {}});
                    break;
                case u'm':
                    pieces_.push_back({Minute, take, {}, {}});
                    break;
                case u's':
                    pieces_.push_back({Second, take, {}, {}});
                    break;
                case u'z':
                    take = left >= 3 ? 3 : 1;
                    pieces_.push_back({take == 3 ? Millis : MillisTrimmed, take, {}, {}});
                    break;
                case u'a':
                case u'A': {
                    // "AP"/"A" upper case, "ap"/"a" lower case; the P of "AP" is part of the field.
                    take = 1;
                    QString am = locale.amText(), pm = locale.pmText();
                    if (c == u'A') {
                        am = am.toUpper();
                        pm = pm.toUpper();
                    } else {
                        am = am.toLower();
                        pm = pm.toLower();
                    }
                    pieces_.push_back({AmPm, 0, toSystemEncoding(am), toSystemEncoding(pm)});
                    if (left == 1 && i + 1 < runs.size() &&
                        (runs[i + 1].letter == u'p' || runs[i + 1].letter == u'P') && runs[i + 1].count == 1)
                        ++i;
                    break;
                }
                default:  // a lone p or P: printed as it stands
                    pieces_.push_back({Literal, 0, std::string(size_t(take), char(c)), {}});
                    break;
            }
            left -= take;
        }
    }
}

QString TimeOfDayFormat::text(int32_t ms) const {
    const QTime t = QTime::fromMSecsSinceStartOfDay(ms);
    return t.isValid() ? locale_.toString(t, pattern_) : QString();
}

void TimeOfDayFormat::append(std::string& out, int32_t ms) const {
    constexpr int32_t day = 86400000;
    ms = ((ms % day) + day) % day;  // a time of day, whatever the row holds
    const int hour = ms / 3600000;
    const int minute = ms / 60000 % 60;
    const int second = ms / 1000 % 60;
    const int millis = ms % 1000;
    for (const Piece& p : pieces_) {
        switch (p.kind) {
            case Literal:
                out += p.text;
                break;
            case Hour24:
                appendNumber(out, hour, p.digits);
                break;
            case Hour12:
                appendNumber(out, hour % 12 == 0 ? 12 : hour % 12, p.digits);
                break;
            case Minute:
                appendNumber(out, minute, p.digits);
                break;
            case Second:
                appendNumber(out, second, p.digits);
                break;
            case Millis:
                appendNumber(out, millis, 3);
                break;
            case MillisTrimmed: {
                int value = millis, width = 3;
                while (width > 1 && value % 10 == 0) {
                    value /= 10;
                    --width;
                }
                appendNumber(out, value, width);
                break;
            }
            case AmPm:
                out += hour < 12 ? p.text : p.pmText;
                break;
        }
    }
}

#include "ReadingMessage.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>
#include <ctime>

#include "MeterState.h"
#include "UnitSymbols.h"

std::string IsoClock::format(std::chrono::system_clock::time_point t) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
    const int64_t second = ms >= 0 ? ms / 1000 : (ms - 999) / 1000;
    if (second != second_) {
        second_ = second;
        const std::time_t tt = static_cast<std::time_t>(second);
        std::tm local{};
        localtime_r(&tt, &local);
        char buf[40];
        std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S.", &local);
        head_ = buf;
        const long offset = local.tm_gmtoff;
        const long minutes = (offset < 0 ? -offset : offset) / 60;
        std::snprintf(buf, sizeof buf, "%c%02ld:%02ld", offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
        zone_ = buf;
    }
    const int milli = static_cast<int>(ms - second * 1000);
    std::string s = head_;
    s += static_cast<char>('0' + milli / 100);
    s += static_cast<char>('0' + milli / 10 % 10);
    s += static_cast<char>('0' + milli % 10);
    return s + zone_;
}

QByteArray readingJson(uint64_t seq, const std::string& time, const MeterState& reading, const std::string& model) {
    QJsonObject o;
    o.insert(QLatin1String("seq"), static_cast<qint64>(seq));
    o.insert(QLatin1String("time"), QString::fromStdString(time));
    o.insert(QLatin1String("display"), QString::fromStdString(reading.ValueText));
    const auto value = plainNumber(reading.ValueText);
    o.insert(QLatin1String("value"), value ? QJsonValue(*value) : QJsonValue());
    o.insert(QLatin1String("unit"), QString::fromStdString(realUnitText(reading.UnitText)));
    o.insert(QLatin1String("acdc"), QString::fromStdString(reading.AcDcText));
    o.insert(QLatin1String("range"), QString::fromStdString(reading.AutoText));
    o.insert(QLatin1String("overload"), reading.ValueText.find('L') != std::string::npos);
    o.insert(QLatin1String("counts"), static_cast<double>(reading.NumericValue));
    o.insert(QLatin1String("model"), QString::fromStdString(model));
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

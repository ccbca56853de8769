#include "AlarmMessage.h"

#include <QJsonDocument>
#include <QJsonObject>

#include "CsvExport.h"
#include "LocalClock.h"

std::string alarmTimeText(int64_t utcUs) {
    LocalClock zone;
    const LocalStamp at = zone.atReadingTime(utcUs);
    return CsvExport::dateTimeText(at.day, at.timeMs, at.utcOffsetMin);
}

QByteArray alarmMessage(const AlarmEvent& e) {
    QJsonObject message{{"alarm", e.name},
                        {"state", e.entered ? "entered" : "left"},
                        {"channel", e.channel},
                        {"unit", e.unit},
                        {"time", QString::fromStdString(alarmTimeText(e.utcUs))},
                        {"condition", e.condition}};
    message.insert("value", e.value == e.value ? QJsonValue(e.value) : QJsonValue());
    return QJsonDocument(message).toJson(QJsonDocument::Compact);
}

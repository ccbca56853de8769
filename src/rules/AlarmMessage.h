#pragma once

#include <QByteArray>
#include <string>

#include "RulesEngine.h"

// An alarm event as its retained message says it under PREFIX/<client>/alarm/NAME: compact JSON
// with "alarm", "state" ("entered" or "left"), "channel", "value" (base unit; null for missing
// readings), "unit", "time" (local ISO 8601 with its offset) and "condition".
QByteArray alarmMessage(const AlarmEvent& event);

// The local time of a moment as the rules' lines and messages write it.
std::string alarmTimeText(int64_t utcUs);

#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

class QSettings;

// The bench kept between runs: its local meters and math channels, in order.
struct BenchSettings {
    struct Meter {
        QString name;
        QString model;
        bool variant = false;
        QString path;
    };
    struct Math {
        QString name;
        QString expression;
    };
    QVector<Meter> meters;
    QVector<Math> maths;
    QStringList subscriptions;  // broker URLs
};

BenchSettings loadBenchSettings(QSettings& settings);
void saveBenchSettings(QSettings& settings, const BenchSettings& bench);

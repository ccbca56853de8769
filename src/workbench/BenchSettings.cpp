#include "BenchSettings.h"

#include <QSettings>

BenchSettings loadBenchSettings(QSettings& settings) {
    BenchSettings bench;
    const int meters = settings.beginReadArray("bench/meters");
    for (int i = 0; i < meters; ++i) {
        settings.setArrayIndex(i);
        bench.meters.push_back({settings.value("name").toString(), settings.value("model").toString(),
                                settings.value("variant").toBool(), settings.value("path").toString()});
    }
    settings.endArray();
    const int maths = settings.beginReadArray("bench/math");
    for (int i = 0; i < maths; ++i) {
        settings.setArrayIndex(i);
        bench.maths.push_back({settings.value("name").toString(), settings.value("expression").toString()});
    }
    settings.endArray();
    bench.subscriptions = settings.value("bench/subscriptions").toStringList();
    return bench;
}

void saveBenchSettings(QSettings& settings, const BenchSettings& bench) {
    settings.remove("bench");
    settings.beginWriteArray("bench/meters", int(bench.meters.size()));
    for (int i = 0; i < bench.meters.size(); ++i) {
        settings.setArrayIndex(i);
        settings.setValue("name", bench.meters[i].name);
        settings.setValue("model", bench.meters[i].model);
        settings.setValue("variant", bench.meters[i].variant);
        settings.setValue("path", bench.meters[i].path);
    }
    settings.endArray();
    settings.beginWriteArray("bench/math", int(bench.maths.size()));
    for (int i = 0; i < bench.maths.size(); ++i) {
        settings.setArrayIndex(i);
        settings.setValue("name", bench.maths[i].name);
        settings.setValue("expression", bench.maths[i].expression);
    }
    settings.endArray();
    settings.setValue("bench/subscriptions", bench.subscriptions);
}

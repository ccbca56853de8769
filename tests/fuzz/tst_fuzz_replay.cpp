// Every seed input of the fuzz targets and every input that once found a fault, run through the
// targets' entry functions. The entries abort on a broken rule of their own; the sanitizer build
// of the tests reports the rest.
#include <QDir>
#include <QFile>
#include <QTest>

#include "FuzzEntries.h"

namespace {

using Entry = int (*)(const uint8_t*, std::size_t);

struct Target {
    const char* name;
    Entry entry;
};

const Target kTargets[] = {
    {"frames", FuzzEntries::frames},
    {"paradox_table", FuzzEntries::paradoxTable},
    {"texts", FuzzEntries::texts},
    {"serve_request", FuzzEntries::serveRequest},
    {"scpi", FuzzEntries::scpi},
    {"expressions", FuzzEntries::expressions},
    {"broker_message", FuzzEntries::brokerMessage},
};

}  // namespace

class TstFuzzReplay : public QObject {
    Q_OBJECT

private slots:
    void replay_data() {
        QTest::addColumn<int>("target");
        QTest::addColumn<QString>("path");
        for (int t = 0; t < int(std::size(kTargets)); ++t) {
            int seeds = 0;
            for (const QString& root :
                 {QStringLiteral(DMM_FUZZ_SEED_DIR), QStringLiteral(DMM_TEST_DATA_DIR "/fuzz")}) {
                const QDir dir(root + QLatin1Char('/') + QLatin1String(kTargets[t].name));
                for (const QString& file : dir.entryList(QDir::Files, QDir::Name)) {
                    const QString path = dir.filePath(file);
                    QTest::newRow(
                        qPrintable(QStringLiteral("%1/%2").arg(QLatin1String(kTargets[t].name), file)))
                        << t << path;
                    if (root == QLatin1String(DMM_FUZZ_SEED_DIR)) ++seeds;
                }
            }
            // a corpus that went missing would make this test pass on nothing
            if (seeds == 0) qFatal("no seed inputs for the fuzz target %s", kTargets[t].name);
        }
    }

    void replay() {
        QFETCH(int, target);
        QFETCH(QString, path);
        QFile file(path);
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(path));
        const QByteArray bytes = file.readAll();
        QCOMPARE(kTargets[target].entry(reinterpret_cast<const uint8_t*>(bytes.constData()),
                                        std::size_t(bytes.size())),
                 0);
    }

    // The model streams of the seed corpus cut into chunks of every size from 1 to 32 bytes: the
    // frames entry aborts when the readings differ from those of the stream fed in one piece.
    void streamsInEveryChunkSize() {
        const QDir dir(QStringLiteral(DMM_FUZZ_SEED_DIR "/frames"));
        const QStringList streams = dir.entryList({QStringLiteral("stream_*")}, QDir::Files, QDir::Name);
        QVERIFY(streams.size() >= 2);
        for (const QString& name : streams) {
            QFile file(dir.filePath(name));
            QVERIFY(file.open(QIODevice::ReadOnly));
            // undo the seed's own chunking: a head byte, then length bytes each before its chunk
            const QByteArray seed = file.readAll();
            QByteArray bytes;
            for (qsizetype i = 1; i < seed.size();) {
                const qsizetype n = static_cast<uint8_t>(seed[i]);
                bytes += seed.mid(i + 1, n);
                i += 1 + n;
            }
            for (int size = 1; size <= 32; ++size) {
                QByteArray input(1, seed[0]);
                for (qsizetype i = 0; i < bytes.size(); i += size) {
                    const QByteArray chunk = bytes.mid(i, size);
                    input += char(chunk.size());
                    input += chunk;
                }
                QCOMPARE(FuzzEntries::frames(reinterpret_cast<const uint8_t*>(input.constData()),
                                             std::size_t(input.size())),
                         0);
            }
        }
    }
};

QTEST_GUILESS_MAIN(TstFuzzReplay)
#include "tst_fuzz_replay.moc"

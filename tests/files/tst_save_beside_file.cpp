// Replacing a file: the new one keeps the old one's permissions, reaches the disk before it takes
// the name, and a replacement that does not complete leaves nothing beside the old file.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <string>
#include <vector>

#include "SaveBesideFile.h"

// The system calls that make a replacement safe, in the order they were made. Defined here, the
// program's own calls reach these first; each passes on to the system's.
static std::vector<std::string> fileCalls;

static std::string pathOf(int fd) {
    char link[64];
    char path[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = ::readlink(link, path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

extern "C" int fsync(int fd) {
    static const auto real = reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "fsync"));
    fileCalls.push_back("sync " + pathOf(fd));
    return real(fd);
}

extern "C" int rename(const char* from, const char* to) {
    static const auto real = reinterpret_cast<int (*)(const char*, const char*)>(dlsym(RTLD_NEXT, "rename"));
    fileCalls.push_back(std::string("rename ") + from + " " + to);
    return real(from, to);
}

namespace {

QStringList filesIn(const QTemporaryDir& dir) {
    return QDir(dir.path()).entryList(QDir::Files | QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
}

bool write(SaveBesideFile& file, const QByteArray& data) {
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

}  // namespace

class SaveBesideFileTest : public QObject {
    Q_OBJECT

private slots:
    void replacementKeepsTheOldPermissions_data() {
        QTest::addColumn<int>("mode");
        QTest::newRow("private") << 0600;
        QTest::newRow("group may read") << 0640;
        QTest::newRow("executable") << 0755;
    }
    void replacementKeepsTheOldPermissions() {
        QFETCH(int, mode);
        QTemporaryDir dir;
        const QString path = dir.filePath("run.txt");
        const int fd = ::open(path.toLocal8Bit().constData(), O_WRONLY | O_CREAT, 0644);
        QVERIFY(fd >= 0 && ::fchmod(fd, static_cast<mode_t>(mode)) == 0 && ::close(fd) == 0);
        SaveBesideFile file(path);
        QVERIFY(write(file, "new"));
        QVERIFY2(file.commit(), qPrintable(file.errorString()));
        struct stat st {};
        QCOMPARE(::stat(path.toLocal8Bit().constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 07777), mode);
        QCOMPARE(filesIn(dir), QStringList{"run.txt"});
    }

    void dataReachesTheDiskBeforeTheNameIsTaken() {
        QTemporaryDir dir;
        const QString path = dir.filePath("run.txt");
        SaveBesideFile file(path);
        QVERIFY(write(file, "rows"));
        const std::string written = file.writtenPath().toStdString();
        fileCalls.clear();
        QVERIFY(file.commit());
        const std::vector<std::string> expected{"sync " + written,
                                                "rename " + written + " " + path.toStdString()};
        QCOMPARE(fileCalls, expected);
    }

    // Cancelled, dropped unfinished, or refused at the end because a folder took the name
    // meanwhile: only what was there before stays.
    void unfinishedReplacementLeavesNothingBeside() {
        QTemporaryDir dir;
        const QString path = dir.filePath("run.txt");
        {
            SaveBesideFile cancelled(path);
            QVERIFY(write(cancelled, "a"));
            cancelled.cancelWriting();
            SaveBesideFile dropped(path);
            QVERIFY(write(dropped, "b"));
        }
        QCOMPARE(filesIn(dir), QStringList());

        SaveBesideFile refused(path);
        QVERIFY(write(refused, "c"));
        QVERIFY(QDir(dir.path()).mkdir("run.txt"));
        QVERIFY(!refused.commit());
        QVERIFY2(refused.errorString().contains("directory"), qPrintable(refused.errorString()));
        QCOMPARE(filesIn(dir), QStringList{"run.txt"});
        QVERIFY(QFileInfo(path).isDir());
    }
};

QTEST_GUILESS_MAIN(SaveBesideFileTest)
#include "tst_save_beside_file.moc"

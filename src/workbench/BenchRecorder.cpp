#include "BenchRecorder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "BenchAlignedValues.h"
#include "BenchModel.h"
#include "BenchUnits.h"
#include "CsvExport.h"
#include "LocalClock.h"
#include "NumberText.h"
#include "PlainFile.h"
#include "SaveBesideFile.h"

namespace {

// How often held rows are written out; the disk is made to keep them at most every other time,
// so a killed program loses no more than this, and a power cut no more than twice it.
constexpr int kWriteEveryMs = 250;

// The local date and time of a moment as the CSV export writes it.
class MomentText {
public:
    void append(std::string& out, qint64 utcMs) {
        const LocalStamp stamp = clock_.at(utcMs);
        row_.day = stamp.day;
        row_.timeMs = stamp.timeMs;
        row_.utcOffsetMin = stamp.utcOffsetMin;
        text_.append(out, row_);
    }

private:
    LocalClock clock_;
    RecordRow row_;
    CsvExport::DateTimeText text_;
};

constexpr int kMathDigitsInFiles = 10;

constexpr char kHeader[] = "Date and time,Channel,Number,Unit,Value,AC/DC,AUTO/MANU\r\n";

// Rows held while the disk takes none, at most: more are counted as lost.
constexpr std::size_t kMaxHeldBytes = 8u << 20;

}  // namespace

struct BenchRecorder::Impl {
    BenchModel& model;
    QString path;
    int fd = -1;
    off_t fileSize = 0;  // the whole rows on file: a failed write is cut back to it
    std::string pending;
    uint64_t pendingRows = 0;
    std::string error;  // why the last write failed; empty once a write gets everything out
    uint64_t rows = 0;  // on file
    uint64_t lost = 0;
    bool appended = false;
    bool syncNext = false;
    MomentText moment;
    QTimer timer;

    Impl(BenchModel& m, const QString& p) : model(m), path(p) {}

    void add(int id, const BenchReading& r) {
        const ChannelInfo* ch = model.channel(id);
        if (!ch || fd < 0) return;
        if (pending.size() > kMaxHeldBytes) {
            ++lost;
            return;
        }
        moment.append(pending, r.timeMs);
        pending += ',';
        CsvExport::appendField(pending, ch->name.toStdString());
        pending += ',';
        NumberText::append(pending, r.value);
        pending += ',';
        CsvExport::appendField(pending, r.unit.toStdString());
        pending += ',';
        if (ch->kind == ChannelKind::Meter) {
            CsvExport::appendField(pending, r.display.toStdString());
            pending += ',';
            CsvExport::appendField(pending, r.acdc.toStdString());
            pending += ',';
            CsvExport::appendField(pending, r.range.toStdString());
        } else {
            pending += ",,";
        }
        pending += "\r\n";
        ++pendingRows;
    }

    // Writes the held rows. What a failed write put on file past the last whole row is cut off
    // again, so the file never ends in part of a row; the rows not on file stay held.
    bool writeOut(bool sync) {
        if (fd < 0) return error.empty();
        std::size_t done = 0;
        while (done < pending.size()) {
            const ssize_t n = ::write(fd, pending.data() + done, pending.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                error = PlainFile::reason(n < 0 ? errno : ENOSPC);
                const std::size_t lastEnd = done == 0 ? std::string::npos : pending.rfind('\n', done - 1);
                const std::size_t whole = lastEnd == std::string::npos ? 0 : lastEnd + 1;
                if (::ftruncate(fd, fileSize + off_t(whole)) != 0) {
                    error += " (" + PlainFile::reason(errno) + ")";
                    return false;
                }
                taken(whole);
                return false;
            }
            done += std::size_t(n);
        }
        taken(pending.size());
        error.clear();
        if (sync && ::fdatasync(fd) != 0 && errno != EINVAL) {
            error = PlainFile::reason(errno);
            return false;
        }
        return true;
    }

    // The first `bytes` of the held rows, whole rows, are on file.
    void taken(std::size_t bytes) {
        const auto whole =
            uint64_t(std::count(pending.begin(), pending.begin() + std::ptrdiff_t(bytes), '\n'));
        fileSize += off_t(bytes);
        rows += whole;
        pendingRows -= whole;
        pending.erase(0, bytes);
    }

    // An earlier recording in the file is kept and the rows go on after it; a row cut short by
    // a killed run is cut off first. A file that is not a recording of the bench is left alone.
    std::string continueFile() {
        char head[sizeof kHeader - 1];
        const ssize_t n = ::pread(fd, head, sizeof head, 0);
        if (n < 0) return PlainFile::reason(errno);
        if (std::size_t(n) != sizeof head || std::memcmp(head, kHeader, sizeof head) != 0)
            return "it holds something else than a recording of the bench: choose another file";
        // back from the end to the end of the last whole row
        off_t end = fileSize;
        char chunk[4096];
        while (end > off_t(sizeof head)) {
            const off_t from = std::max<off_t>(off_t(sizeof head), end - off_t(sizeof chunk));
            const ssize_t got = ::pread(fd, chunk, std::size_t(end - from), from);
            if (got != end - from) return PlainFile::reason(got < 0 ? errno : EIO);
            const char* last = static_cast<const char*>(::memrchr(chunk, '\n', std::size_t(got)));
            if (last) {
                end = from + (last - chunk) + 1;
                break;
            }
            end = from;
        }
        if (end < fileSize && ::ftruncate(fd, end) != 0) return PlainFile::reason(errno);
        fileSize = end;
        appended = true;
        return {};
    }
};

BenchRecorder::BenchRecorder(BenchModel& model, const QString& path, QObject* parent)
    : QObject(parent), d_(std::make_unique<Impl>(model, path)) {
    d_->timer.setInterval(kWriteEveryMs);
    connect(&d_->timer, &QTimer::timeout, this, [this] {
        if (d_->pending.empty() && !d_->syncNext) return;
        d_->writeOut(d_->syncNext);
        d_->syncNext = !d_->syncNext;
    });
    connect(&model, &BenchModel::readingAdded, this,
            [this](int id, const BenchReading& r) { d_->add(id, r); });
}

BenchRecorder::~BenchRecorder() {
    finish();
}

const QString& BenchRecorder::path() const {
    return d_->path;
}
uint64_t BenchRecorder::rows() const {
    return d_->rows;
}
uint64_t BenchRecorder::lostRows() const {
    return d_->lost;
}
bool BenchRecorder::appended() const {
    return d_->appended;
}

bool BenchRecorder::start(QString* error) {
    auto fail = [&](const std::string& why) {
        if (error) *error = tr("cannot record into '%1': %2").arg(d_->path, QString::fromStdString(why));
        if (d_->fd >= 0) ::close(d_->fd);
        d_->fd = -1;
        return false;
    };
    const Result<int> opened = PlainFile::open(PlainFile::toNative(d_->path).toStdString(),
                                               O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (!opened) return fail(opened.error());
    d_->fd = opened.value();
    // held for as long as the file is open: the lock is on the file, so a second recording
    // into it is refused under whatever name it reaches the file
    int rc;
    do {
        rc = ::flock(d_->fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0)
        return fail(errno == EWOULDBLOCK ? "another program is recording into it" : PlainFile::reason(errno));
    struct stat st {};
    if (::fstat(d_->fd, &st) != 0) return fail(PlainFile::reason(errno));
    if (!S_ISREG(st.st_mode)) return fail("it is not a plain file");
    d_->fileSize = st.st_size;
    if (d_->fileSize > 0) {
        const std::string refused = d_->continueFile();
        if (!refused.empty()) return fail(refused);
    } else {
        d_->pending = kHeader;
        d_->pendingRows = 1;  // the header goes as a row does, but is none of the run's
        if (!d_->writeOut(true)) return fail(d_->error);
        d_->rows = 0;
    }
    d_->timer.start();
    return true;
}

bool BenchRecorder::finish(QString* error) {
    if (d_->fd >= 0) {
        d_->timer.stop();
        d_->writeOut(true);
        if (!d_->pending.empty()) {
            d_->lost += d_->pendingRows;
            d_->pending.clear();
            d_->pendingRows = 0;
        }
        if (::close(d_->fd) != 0 && d_->error.empty()) d_->error = PlainFile::reason(errno);
        d_->fd = -1;
    }
    if (d_->lost == 0 && d_->error.empty()) return true;
    if (error) {
        *error = tr("cannot write '%1': %2").arg(d_->path, QString::fromStdString(d_->error));
        if (d_->lost > 0)
            *error += (d_->lost == 1 ? tr(" (1 row lost)") : tr(" (%1 rows lost)").arg(d_->lost));
    }
    return false;
}

// The values come from BenchAlignedValues. The rows are written as they are made, a megabyte at a time, so a
// week of rows at a fine step never has to fit in memory.
bool writeAlignedCsv(const BenchModel& model, const QString& path, qint64 stepMs, QString* error,
                     const QString& recordingPath) {
    const QVector<int> ids = model.channelIds();
    int64_t first = INT64_MAX, last = INT64_MIN;
    BenchAlignedValues values(model, ids, recordingPath);
    for (const int id : ids) {
        const ChannelHistory& h = model.history(id);
        if (h.empty()) continue;
        first = std::min(first, h.firstTime());
        last = std::max(last, h.lastTime());
    }
    SaveBesideFile file(path);
    bool ok = file.open();
    const auto flush = [&](std::string& out) {
        ok = ok && file.write(out.data(), qint64(out.size())) == qint64(out.size());
        out.clear();
    };
    std::string out = "Date and time";
    for (const int id : ids) {
        const ChannelInfo* ch = model.channel(id);
        out += ',';
        CsvExport::appendField(
            out, (ch->unit.isEmpty() ? ch->name : ch->name + " (" + ch->unit + ")").toStdString());
    }
    out += "\r\n";
    if (stepMs <= 0) stepMs = 1000;
    // each channel's numbers to the digits it has: a meter's to its resolution, a math channel's
    // to ten significant digits, so the noise of arithmetic stays out of the file
    std::vector<std::optional<int>> resolution;
    for (const int id : ids) {
        const std::optional<BenchReading> latest = model.latest(id);
        resolution.push_back(model.channel(id)->kind == ChannelKind::Meter && latest
                                 ? BenchUnits::resolutionOf(latest->display)
                                 : std::nullopt);
    }
    auto digits = [&](int i, double v) {
        if (!resolution[size_t(i)] || v == 0 || !std::isfinite(v))
            return BenchUnits::roundedTo(v, kMathDigitsInFiles);
        return BenchUnits::roundedTo(v,
                                     int(std::floor(std::log10(std::fabs(v)))) - *resolution[size_t(i)] + 1);
    };
    MomentText moment;
    // from the first whole step on or after the first reading to the last reading
    for (int64_t t = first == INT64_MAX ? 0 : (first + stepMs - 1) / stepMs * stepMs;
         ok && first != INT64_MAX && t <= last; t += stepMs) {
        moment.append(out, t);
        values.moveTo(t);
        for (int i = 0; i < ids.size(); ++i) {
            out += ',';
            if (const std::optional<double> v = values.value(i)) NumberText::append(out, digits(i, *v));
        }
        out += "\r\n";
        if (out.size() >= (1u << 20)) flush(out);
    }
    flush(out);
    if (!ok || !file.commit()) {
        if (error) *error = QObject::tr("cannot write '%1': %2").arg(path, file.errorString());
        file.cancelWriting();
        return false;
    }
    return true;
}

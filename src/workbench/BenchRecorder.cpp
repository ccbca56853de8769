#include "BenchRecorder.h"

#include <fcntl.h>
#include <unistd.h>

#include <QTimer>

#include "BenchAlignedValues.h"
#include "BenchModel.h"
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

}  // namespace

struct BenchRecorder::Impl {
    BenchModel& model;
    QString path;
    int fd = -1;
    std::string pending;
    std::string error;
    uint64_t rows = 0;
    bool syncNext = false;
    MomentText moment;
    QTimer timer;

    Impl(BenchModel& m, const QString& p) : model(m), path(p) {}

    void add(int id, const BenchReading& r) {
        const ChannelInfo* ch = model.channel(id);
        if (!ch || fd < 0) return;
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
        ++rows;
    }

    bool writeOut(bool sync) {
        if (fd < 0) return error.empty();
        const char* data = pending.data();
        std::size_t size = pending.size();
        while (size > 0) {
            const ssize_t n = ::write(fd, data, size);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                error = PlainFile::reason(errno);
                // what could not be written stays held; the next turn tries again
                pending.erase(0, pending.size() - size);
                return false;
            }
            data += n;
            size -= std::size_t(n);
        }
        pending.clear();
        if (sync && ::fdatasync(fd) != 0 && errno != EINVAL) {
            error = PlainFile::reason(errno);
            return false;
        }
        return true;
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

bool BenchRecorder::start(QString* error) {
    const Result<int> opened = PlainFile::open(PlainFile::toNative(d_->path).toStdString(),
                                               O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (!opened) {
        if (error) *error = tr("cannot write '%1': %2").arg(d_->path, QString::fromStdString(opened.error()));
        return false;
    }
    d_->fd = opened.value();
    d_->pending = "Date and time,Channel,Number,Unit,Value,AC/DC,AUTO/MANU\r\n";
    if (!d_->writeOut(true)) {
        if (error) *error = tr("cannot write '%1': %2").arg(d_->path, QString::fromStdString(d_->error));
        return false;
    }
    d_->timer.start();
    return true;
}

bool BenchRecorder::finish(QString* error) {
    if (d_->fd < 0) return d_->error.empty();
    d_->timer.stop();
    d_->writeOut(true);
    if (::close(d_->fd) != 0 && d_->error.empty()) d_->error = PlainFile::reason(errno);
    d_->fd = -1;
    if (!d_->error.empty() && error)
        *error = tr("cannot write '%1': %2").arg(d_->path, QString::fromStdString(d_->error));
    return d_->error.empty();
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
    MomentText moment;
    // from the first whole step on or after the first reading to the last reading
    for (int64_t t = first == INT64_MAX ? 0 : (first + stepMs - 1) / stepMs * stepMs;
         ok && first != INT64_MAX && t <= last; t += stepMs) {
        moment.append(out, t);
        values.moveTo(t);
        for (int i = 0; i < ids.size(); ++i) {
            out += ',';
            if (const std::optional<double> v = values.value(i)) NumberText::append(out, *v);
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

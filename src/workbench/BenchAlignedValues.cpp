#include "BenchAlignedValues.h"

#include <QFile>
#include <charconv>
#include <limits>
#include <map>
#include <string>

#include "BenchModel.h"
#include "LocalClock.h"

namespace {

// The fields of a CSV line as CsvExport writes them (quoted where needed, "" for a quote).
std::vector<std::string> fields(const QByteArray& line) {
    std::vector<std::string> out(1);
    bool quoted = false;
    for (int k = 0; k < line.size(); ++k) {
        const char c = line[k];
        if (quoted) {
            if (c != '"')
                out.back() += c;
            else if (k + 1 < line.size() && line[k + 1] == '"')
                out.back() += line[++k];
            else
                quoted = false;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            out.emplace_back();
        } else if (c != '\r' && c != '\n') {
            out.back() += c;
        }
    }
    return out;
}

bool number(std::string_view text, int& out) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size();
}

// "YYYY-MM-DDTHH:MM:SS.mmm+HH:MM" as milliseconds since 1970 UTC
std::optional<int64_t> moment(const std::string& t) {
    if (t.size() != 29 || t[4] != '-' || t[7] != '-' || t[10] != 'T' || t[13] != ':' || t[16] != ':' ||
        t[19] != '.' || (t[23] != '+' && t[23] != '-') || t[26] != ':')
        return std::nullopt;
    const std::string_view s(t);
    int y, mo, d, h, mi, sec, ms, oh, om;
    if (!number(s.substr(0, 4), y) || !number(s.substr(5, 2), mo) || !number(s.substr(8, 2), d) ||
        !number(s.substr(11, 2), h) || !number(s.substr(14, 2), mi) || !number(s.substr(17, 2), sec) ||
        !number(s.substr(20, 3), ms) || !number(s.substr(24, 2), oh) || !number(s.substr(27, 2), om))
        return std::nullopt;
    const int64_t offsetMs = (t[23] == '-' ? -1 : 1) * (int64_t(oh) * 60 + om) * 60'000;
    const int64_t local =
        int64_t(dayNumber(y, mo, d)) * 86'400'000 + ((int64_t(h) * 60 + mi) * 60 + sec) * 1000 + ms;
    return local - offsetMs;
}

}  // namespace

// The recording's rows in the order they were written, which is the order of time up to the
// few milliseconds meters on different lines may differ; one row is read ahead.
struct BenchAlignedValues::Recording {
    QFile file;
    std::map<std::string, int> columnOf;
    std::optional<int64_t> nextTime;
    int nextColumn = -1;
    double nextValue = NAN;

    // Reads on to the next row of a channel asked for; false at the end of what is written.
    bool readAhead() {
        nextTime.reset();
        while (!file.atEnd()) {
            const QByteArray line = file.readLine();
            if (!line.endsWith('\n')) return false;  // a row still being written
            const std::vector<std::string> f = fields(line);
            if (f.size() < 3) continue;
            const auto column = columnOf.find(f[1]);
            const std::optional<int64_t> t = moment(f[0]);
            if (column == columnOf.end() || !t) continue;
            double v = NAN;
            if (!f[2].empty()) {
                const auto [end, ec] = std::from_chars(f[2].data(), f[2].data() + f[2].size(), v);
                if (ec != std::errc() || end != f[2].data() + f[2].size()) continue;
            }
            nextTime = t;
            nextColumn = column->second;
            nextValue = v;
            return true;
        }
        return false;
    }
};

BenchAlignedValues::BenchAlignedValues(const BenchModel& model, const QVector<int>& ids,
                                       const QString& recordingPath) {
    for (const int id : ids) {
        const ChannelHistory& h = model.history(id);
        const HistorySeries& readings = h.level(0);
        const int64_t from =
            readings.empty() ? std::numeric_limits<int64_t>::max() : readings.time(readings.begin());
        columns_.push_back(Column{ChannelHistory::Cursor(h), from, false, std::nullopt});
    }
    if (recordingPath.isEmpty()) return;
    // only channels whose history lets go of readings need the recording
    auto r = std::make_unique<Recording>();
    for (int i = 0; i < ids.size(); ++i) {
        const ChannelInfo* ch = model.channel(ids[i]);
        if (ch && model.history(ids[i]).level(0).begin() > 0) r->columnOf[ch->name.toStdString()] = i;
    }
    r->file.setFileName(recordingPath);
    if (r->columnOf.empty() || !r->file.open(QIODevice::ReadOnly)) return;
    for (const auto& [name, i] : r->columnOf) columns_[size_t(i)].recorded = true;
    recording_ = std::move(r);
    recording_->readAhead();
}

BenchAlignedValues::~BenchAlignedValues() = default;

void BenchAlignedValues::moveTo(int64_t timeMs) {
    at_ = timeMs;
    for (Column& c : columns_) c.cursor.moveTo(timeMs);
    if (!recording_) return;
    Recording& r = *recording_;
    while (r.nextTime && *r.nextTime <= timeMs) {
        columns_[size_t(r.nextColumn)].fromRecording = r.nextValue;
        ++recordedRows_;
        r.readAhead();
    }
}

std::optional<double> BenchAlignedValues::value(int i) const {
    const Column& c = columns_[size_t(i)];
    if (c.recorded && at_ < c.readingsFrom && c.fromRecording) return c.fromRecording;
    return c.cursor.seen() ? std::optional<double>(c.cursor.value()) : std::nullopt;
}

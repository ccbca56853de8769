#include "HeadlessRecorder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QString>
#include <cstdio>
#include <cstring>
#include <ostream>

#include "AppOptions.h"
#include "DataFiles.h"
#include "LocalClock.h"
#include "MeterState.h"
#include "ReadingState.h"
#include "TableLock.h"

namespace {
constexpr int kBitsPerByte = 10;  // start bit, 8 data bits, stop bit
// Rows are written with four-digit years.
constexpr const char* kLastMoment = "9999-12-31T23:59:59.999";
// The journal is written this often, so that a kill loses at most a second of rows even when a
// write waits on the disk or the loop wakes late.
constexpr auto kJournalPeriod = std::chrono::milliseconds(500);
// A capture looks at the real clock every so many bytes: the clock costs more than a byte.
constexpr uint64_t kBytesPerClockLook = 4096;
}  // namespace

HeadlessRecorder::HeadlessRecorder(const AppOptions& options)
    : path_(options.recordPath.value_or(std::string())) {
    RecordStore::applyStartValues(state_);
    state_.RepeatSet = options.recordRepeat;
    state_.RecordSI = options.recordInterval.has_value();
    if (options.recordInterval) state_.SampleInterval = *options.recordInterval;
    state_.MaxRecords = options.recordLimit;
    table_.openEmpty("record");
}

HeadlessRecorder::~HeadlessRecorder() {
    // left in place only while it holds rows that are on no file
    if (journal_ && !store_.hasUnsavedRows()) journal_->remove();
}

bool HeadlessRecorder::startJournal(std::ostream& warnings, std::string* error) {
    journalPath_ = journalPathFor(path_);
    auto journal = std::make_unique<RecordJournal>();
    const Result<RecordJournal::Contents> claimed = journal->claim(journalPath_);
    if (!claimed) {
        if (error) *error = "cannot record into '" + path_ + "': " + claimed.error();
        return false;
    }
    const RecordJournal::Contents& left = claimed.value();
    if (left.rowCount > 0) {
        // closed without removing: the rows of the earlier run stay for --recover
        if (error) {
            *error = "cannot record into '" + path_ + "': " + journalPath_ + " holds " +
                     std::to_string(left.rowCount) +
                     " rows of an earlier run that were not written; write them with --recover " +
                     journalPath_ + " OUT, or remove it";
        }
        return false;
    }
    if (left.fileBytes > 0) {
        // nothing readable, but what is there is not ours to throw away
        const Result<std::string> aside = journal->setAside();
        if (!aside) {
            if (error) *error = "cannot record into '" + path_ + "': " + aside.error();
            return false;
        }
        warnings << journalPath_ << " held damaged data and no readable row; it is kept as " << aside.value()
                 << '\n';
    }
    journal->restart(0);
    journal_ = std::move(journal);
    store_.setJournal(journal_.get());
    warnings_ = &warnings;
    lastSync_ = std::chrono::steady_clock::now();
    return true;
}

void HeadlessRecorder::syncJournal() {
    ++journalSyncs_;
    const Result<> synced = store_.syncJournal();
    if (synced) {
        journalFailed_ = false;
    } else if (!journalFailed_) {
        // said once; the next times try again
        journalFailed_ = true;
        if (warnings_)
            *warnings_ << "recorded readings are no longer kept safe on disk until written: "
                       << synced.error() << '\n';
    }
}

void HeadlessRecorder::syncJournalIfDue(std::chrono::steady_clock::time_point now) {
    if (!journal_ || now - lastSync_ < kJournalPeriod) return;
    lastSync_ = now;
    syncJournal();
}

void HeadlessRecorder::useLineClock(int baud, int64_t startUtcMs) {
    baud_ = baud;
    startMs_ = startUtcMs;
    lastMs_ = LocalClock::parseLocal(kLastMoment).value_or(INT64_MAX);
    bytes_ = 0;
    ticks_ = 0;
    store_.setLocalClock([this] {
        const int64_t lineMs = static_cast<int64_t>(bytes_) * kBitsPerByte * 1000 / baud_;
        return zone_.at(heldMs_.value_or(startMs_ + lineMs));
    });
}

std::string HeadlessRecorder::journalPathFor(const std::string& path) {
    const std::string resolved = PlainFile::resolved(path);
    const auto slash = resolved.find_last_of('/');
    const std::string dir = slash == std::string::npos ? std::string(".") : resolved.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? resolved : resolved.substr(slash + 1);
    const long allowed = ::pathconf(dir.c_str(), _PC_NAME_MAX);
    const std::size_t most = allowed > 0 ? static_cast<std::size_t>(allowed) : 255;
    const std::string suffix = ".journal";
    if (name.size() + suffix.size() <= most) return resolved + suffix;
    // FNV-1a over the whole name: the same name always gives the same journal
    uint32_t hash = 2166136261u;
    for (const unsigned char c : name) hash = (hash ^ c) * 16777619u;
    char tail[16];
    std::snprintf(tail, sizeof tail, "~%08x", hash);
    std::size_t keep = most - suffix.size() - std::strlen(tail);
    // not in the middle of a character of several bytes
    while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) --keep;
    return resolved.substr(0, resolved.size() - name.size()) + name.substr(0, keep) + tail + suffix;
}

std::string HeadlessRecorder::checkLineClockEnd(const std::string& path, int baud, int64_t startUtcMs) {
    const std::optional<int64_t> last = LocalClock::parseLocal(kLastMoment);
    struct stat st {};
    const bool sized = path != "-" && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    const int64_t lineMs = sized ? static_cast<int64_t>(st.st_size) * kBitsPerByte * 1000 / baud : 0;
    if (!last || startUtcMs + lineMs <= *last) return {};
    return "--start: the capture takes " + std::to_string((lineMs + 999) / 1000) +
           " s of line time, so its rows would be dated past 9999-12-31T23:59:59; choose an earlier start";
}

void HeadlessRecorder::byteArrives() {
    ++bytes_;
    const int64_t seconds = static_cast<int64_t>(bytes_) * kBitsPerByte / baud_;
    for (; ticks_ < seconds; ++ticks_) store_.TrecordTimer();
    if (journal_ && bytes_ % kBytesPerClockLook == 0) syncJournalIfDue(std::chrono::steady_clock::now());
}

void HeadlessRecorder::realTimePassed(std::chrono::steady_clock::time_point now) {
    if (!realStarted_) {
        realStarted_ = true;
        realStart_ = now;
        ticks_ = 0;
        return;
    }
    const int64_t seconds = std::chrono::duration_cast<std::chrono::seconds>(now - realStart_).count();
    for (; ticks_ < seconds; ++ticks_) store_.TrecordTimer();
    syncJournalIfDue(now);
}

void HeadlessRecorder::offer(const MeterState& reading) {
    if (baud_ > 0 && startMs_ + static_cast<int64_t>(bytes_) * kBitsPerByte * 1000 / baud_ > lastMs_) {
        ++pastLastDate_;
        return;
    }
    store_.INDataToTable(reading);
}

void HeadlessRecorder::offerAt(const MeterReading& reading, const std::string& note) {
    const MeterState s = recordedState(reading);
    if (!note.empty()) pendingNote_ += (pendingNote_.empty() ? "" : "; ") + note;
    heldMs_ = reading.utcUs / 1000 - (reading.utcUs % 1000 < 0);
    const int64_t before = table_.rowCount();
    offer(s);
    heldMs_.reset();
    if (table_.rowCount() > before && !pendingNote_.empty()) {
        notes_[before] = std::move(pendingNote_);
        pendingNote_.clear();
    }
}

FileResult HeadlessRecorder::write() {
    const FileResult r = DataFiles::save(PlainFile::fromNative(path_), table_, {}, &notes_);
    if (r.ok()) {
        store_.markSaved();
        if (journal_) journal_->remove();
    } else if (journal_) {
        syncJournal();
    }
    return r;
}

std::string HeadlessRecorder::checkTarget(const std::string& path, const std::string& decodePath) {
    // the name is looked at as the system's bytes: it need not be text
    const std::string refused = PlainFile::refusal(path);
    if (!refused.empty()) return "cannot record into '" + path + "': " + refused;
    const auto slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return "cannot record into '" + path + "': its folder does not exist";
    if (decodePath != "-" && PlainFile::sameFile(path, decodePath)) {
        return "cannot record into '" + path + "': it is the file being decoded";
    }
    if (TableLock::isHeldElsewhere(PlainFile::fromNative(path)))
        return "cannot record into '" + path + "': the table is in use by another program";
    return {};
}

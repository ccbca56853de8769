#include "HeadlessRunner.h"

#include <fcntl.h>
#include <unistd.h>

#include <QFileInfo>
#include <QString>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <ostream>

#include "ByteLog.h"
#include "HeadlessPublishing.h"
#include "HeadlessRecorder.h"
#include "HeadlessRules.h"
#include "HeadlessServing.h"
#include "HeadlessSources.h"
#include "Interrupts.h"
#include "LocalClock.h"
#include "ModelProfiles.h"
#include "PlainFile.h"
#include "PrintingRun.h"
#include "ShownName.h"
#include "TCommPortDriver.h"

namespace {

// After FILE could not be written: how many of the rows the journal holds, exactly.
void reportKeptRows(const HeadlessRecorder& recorder, std::ostream& err) {
    const int64_t rows = recorder.rows();
    const int64_t kept = std::min(recorder.journalRows(), rows);
    const std::string journal = shownName(recorder.journalPath());
    if (rows == 0) return;
    if (kept == rows) {
        err << "all " << rows << (rows == 1 ? " recorded row is" : " recorded rows are") << " kept in "
            << journal << "; --recover " << journal << " OUT writes them\n";
    } else if (kept > 0) {
        err << kept << " of the " << rows << " recorded rows are kept in " << journal << " (--recover "
            << journal << " OUT writes them); the other " << rows - kept << " are lost\n";
    } else if (rows == 1) {
        err << "the recorded row could not be kept in " << journal << ": it is lost\n";
    } else {
        err << "none of the " << rows << " recorded rows could be kept in " << journal << ": " << rows
            << " rows are lost\n";
    }
}

// One run of --decode, step by step. The steps before the reading refuse to start the run
// (NotStarted) with one line on the error stream; those after it say what became of the readings.
class HeadlessRun {
public:
    HeadlessRun(const AppOptions& options, std::istream& stdinStream, std::ostream& out, std::ostream& err)
        : options_(options),
          path_(*options.decodePath),
          kind_(inputKind(path_)),
          stdin_(stdinStream),
          out_(out),
          err_(err),
          controls_(modelControls(options)),
          run_(controls_, out) {}

    ExitCode run() {
        ExitCode code = chooseMeter();
        if (code == ExitCode::Success) code = openByteLog();
        if (code == ExitCode::Success) code = startRecording();
        if (code == ExitCode::Success) code = startPublishing();
        if (code == ExitCode::Success) code = startRules();
        if (code == ExitCode::Success) code = startServing();
        if (code != ExitCode::Success) return code;
        passReadingsOn();
        code = readInput();
        if (code == ExitCode::NotStarted) return code;
        run_.flush();
        out_.flush();
        if (rules_) rules_->finish();
        // whatever ended the reading (the end of the input, an interrupt, a lost device), what
        // was recorded so far belongs on file first: a stopped service may be killed once the
        // broker has had its time
        code = worse(code, writeRecording());
        code = worse(code, finishPublishing());
        code = worse(code, sayWhatWasRead(code));
        code = worse(code, closingNotes());
        return code;
    }

private:
    // A capture (or standard input that is not a device) is timed as the line sent it.
    bool onLineClock() const { return kind_ != InputKind::Device; }
    uint32_t baud() const { return choice_.baud19200 ? 19200 : 2400; }

    // The boxes of the model the options name; the run's decoders keep a copy of them.
    static ControlStates modelControls(const AppOptions& options) {
        ControlStates controls;
        chooseModel(controls, options.model, options.variant);
        return controls;
    }

    ExitCode chooseMeter() {
        choice_ = prepareMeterState(controls_, run_.state());
        if (choice_.family == FrameFamily::None) {
            err_ << "no meter model selected\n";
            return ExitCode::NotStarted;
        }
        run_.line().driver().setComPortSpeed(choice_.baud19200 ? br19200 : br2400);
        run_.line().startWatch(path_ == "-" ? std::string("standard input") : path_);
        return ExitCode::Success;
    }

    ExitCode openByteLog() {
        if (!options_.saveBytesPath) return ExitCode::Success;
        if (!byteLog_.open(*options_.saveBytesPath)) {
            err_ << shownName(byteLog_.error()) << '\n';
            return ExitCode::NotStarted;
        }
        // appending to the file being read would never reach its end
        if (path_ != "-" && byteLog_.isSameFile(path_)) {
            err_ << "cannot save the bytes into '" << shownName(*options_.saveBytesPath)
                 << "': it is the file being decoded\n";
            return ExitCode::NotStarted;
        }
        run_.setByteLog(&byteLog_);
        return ExitCode::Success;
    }

    ExitCode startRecording() {
        if (!options_.recordPath) return ExitCode::Success;
        if (options_.recordStart && !onLineClock()) {
            err_ << "--start applies to a capture: a device runs on the real clock\n";
            return ExitCode::NotStarted;
        }
        const std::string why = HeadlessRecorder::checkTarget(*options_.recordPath, path_);
        if (!why.empty()) {
            err_ << shownName(why) << '\n';
            return ExitCode::NotStarted;
        }
        // a capture's rows are dated from the start, and only up to the end of 9999
        const int64_t start = lineStartMs_;
        if (onLineClock()) {
            const std::string late =
                HeadlessRecorder::checkLineClockEnd(path_, static_cast<int>(baud()), start);
            if (!late.empty()) {
                err_ << late << '\n';
                return ExitCode::NotStarted;
            }
            if (!options_.recordStartNote.empty()) err_ << options_.recordStartNote << '\n';
        }
        recorder_ = std::make_unique<HeadlessRecorder>(options_);
        std::string journalError;
        if (!recorder_->startJournal(err_, &journalError)) {
            err_ << shownName(journalError) << '\n';
            return ExitCode::NotStarted;
        }
        if (onLineClock()) {
            // a capture (or standard input) is timed as the line sent it, from now on
            recorder_->useLineClock(static_cast<int>(baud()), start);
            beforeEachByte_ = [r = recorder_.get()] { r->byteArrives(); };
        }
        return ExitCode::Success;
    }

    ExitCode startPublishing() {
        if (!options_.publish) return ExitCode::Success;
        // A capture or a pipe loses nothing by waiting for the broker; a live device would. While
        // it waits the journal keeps its pace, and an interrupt ends the wait.
        const bool live = kind_ == InputKind::StandardInput
                              ? &stdin_ == &std::cin && inputKind("/dev/stdin") == InputKind::Device
                              : kind_ == InputKind::Device;
        auto whileWaiting = [r = recorder_.get()] {
            if (r) r->timePassed(std::chrono::steady_clock::now());
            return !interrupted();
        };
        installInterruptHandlers();
        ExitCode code = ExitCode::Success;
        publishing_ = HeadlessPublishing::start(*options_.publish, checkedModelCaption(controls_), path_,
                                                !live, whileWaiting, err_, code);
        return publishing_ ? ExitCode::Success : worse(code, ExitCode::Failed);
    }

    ExitCode startServing() {
        if (!options_.serve.any()) return ExitCode::Success;
        serving_ = HeadlessServing::start(options_.serve, checkedModelCaption(controls_), path_, err_);
        return serving_ ? ExitCode::Success : ExitCode::NotStarted;
    }

    // The rules take the readings as the meter line gives them, dated as their rows are: by the
    // line's clock on a capture, by their own time on a device.
    ExitCode startRules() {
        if (!options_.rules) return ExitCode::Success;
        std::function<int64_t()> clock = utcNowUs;
        if (onLineClock()) {
            clock = [this] { return lineNowUs(); };
            beforeEachByte_ = [this, recorderByte = beforeEachByte_] {
                ++lineBytes_;
                if (recorderByte) recorderByte();
            };
        }
        std::string error;
        modelCaption_ = checkedModelCaption(controls_);
        rules_ = HeadlessRules::start(*options_.rules, {QString::fromStdString(modelCaption_)}, 0, clock,
                                      !onLineClock(), err_, &error);
        if (!rules_) {
            err_ << shownName(error) << '\n';
            return ExitCode::NotStarted;
        }
        if (recorder_ && rules_->gatesRecording()) {
            rules_->setRecorder([r = recorder_.get()](const MeterReading& reading, const std::string& note) {
                r->offerAt(reading, note);
            });
        }
        if (publishing_) {
            ReadingPublisher& p = publishing_->publisher();
            rules_->setPublisher(&p.client(), options_.publish->url.prefix + "/" + p.clientName());
        }
        rules_->setWhenDone(endReading);
        return ExitCode::Success;
    }

    int64_t lineNowUs() const {
        return lineStartMs_ * 1000 + static_cast<int64_t>(lineBytes_ * 10'000'000 / baud());
    }

    void passReadingsOn() {
        if (!recorder_ && !publishing_ && !rules_ && !serving_) return;
        // The published time is the reading's row time: the recorder's clock when there is one
        // (the line's clock for a capture with --start), otherwise the reading's own time.
        LocalClock systemClock;
        HeadlessRecorder* const recorder = rules_ && rules_->gatesRecording() ? nullptr : recorder_.get();
        run_.setReadingHandler([this, r = recorder, p = publishing_.get(), systemClock,
                                &reading = run_.state()](const MeterReading& typed) mutable {
            if (r) r->offer(reading);
            if (rules_) {
                // dated as its row is: by the line's clock on a capture
                MeterReading dated = typed;
                dated.utcUs = onLineClock() ? lineNowUs() : typed.utcUs != 0 ? typed.utcUs : utcNowUs();
                rules_->offer(0, dated);
            }
            if (p)
                p->offer(reading,
                         r ? r->readingTime(reading) : systemClock.atReadingTime(reading.ReadingUtcUs));
            if (serving_)
                serving_->offer(reading, run_.tally(), recorder_ ? uint64_t(recorder_->rows()) : 0,
                                p ? p->publisher().client().status().sent : 0);
        });
    }

    ExitCode readInput() {
        // every source ends early on an interrupt, and an earlier run's interrupt is forgotten
        // (publishing installed them before it waited for the broker)
        if (!publishing_) installInterruptHandlers();
        switch (kind_) {
            case InputKind::StandardInput:
                if (&stdin_ != &std::cin) {
                    readStream(stdin_, run_, beforeEachByte_);
                    return ExitCode::Success;
                }
                readLive(STDIN_FILENO, run_, beforeEachByte_, recorder_.get());
                return ExitCode::Success;
            case InputKind::NamedPipe: {
                // read as standard input is: opening waits for a writer, which an interrupt breaks off
                const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
                if (fd < 0 && !interrupted()) return cannotRead(std::strerror(errno));
                if (fd >= 0) {
                    readLive(fd, run_, beforeEachByte_, recorder_.get());
                    ::close(fd);
                }
                return ExitCode::Success;
            }
            case InputKind::Device:
                return readDevice(path_, run_, recorder_.get(), options_.once, err_);
            case InputKind::Directory:
                return cannotRead("it is a directory");
            case InputKind::File:
                break;
        }
        std::ifstream file(path_, std::ios::binary);
        if (!file) return cannotRead(std::strerror(errno));
        readStream(file, run_, beforeEachByte_);
        return ExitCode::Success;
    }

    ExitCode cannotRead(const std::string& why) {
        err_ << "cannot read '" << shownName(path_) << "': " << why << '\n';
        return ExitCode::NotStarted;
    }

    ExitCode finishPublishing() {
        if (!publishing_) return ExitCode::Success;
        // a first interrupt ended the reading and leaves the broker its chance; another ends that,
        // and a termination leaves it kStopGrace
        return publishing_->finish(untilInterruptedAgain()) ? ExitCode::Success : ExitCode::Failed;
    }

    ExitCode writeRecording() {
        if (!recorder_) return ExitCode::Success;
        if (recorder_->rows() == 0) {
            // a run that stored nothing leaves a file of an earlier run as it was
            err_ << shownName(recorder_->path()) << ": no reading was recorded; "
                 << (QFileInfo::exists(QString::fromStdString(recorder_->path()))
                         ? "the file was left as it was"
                         : "nothing written")
                 << '\n';
            return ExitCode::Failed;
        }
        const FileResult written = recorder_->write();
        if (!written.ok()) {
            err_ << shownName(PlainFile::toNative(written.error).toStdString()) << '\n';
            reportKeptRows(*recorder_, err_);
            return ExitCode::Failed;
        }
        err_ << shownName(recorder_->path()) << ": " << written.rows << (written.rows == 1 ? " row" : " rows")
             << " written\n";
        return ExitCode::Success;
    }

    // A run that read nothing says why and fails: the line's hint first, then what was read.
    // `code` is the run's outcome so far: one that fell short already needs no word about the
    // readings, unless it recorded.
    ExitCode sayWhatWasRead(ExitCode code) {
        const auto hint = run_.watch().finalHint();
        if (run_.readings() == 0 && (code == ExitCode::Success || recorder_)) {
            if (hint) err_ << *hint << ' ';
            err_ << "(no reading was decoded: " << run_.bytesFed()
                 << " bytes read; check that --model names the meter that sent them: the model in use is "
                 << checkedModelCaption(controls_) << ")\n";
            return ExitCode::Failed;
        }
        if (hint) err_ << *hint << '\n';
        return ExitCode::Success;
    }

    ExitCode closingNotes() {
        ExitCode code = ExitCode::Success;
        if (options_.saveBytesPath && !byteLog_.isOpen()) {
            // the readings above are good; the saved file stops short
            err_ << shownName(byteLog_.error()) << '\n';
            code = ExitCode::Failed;
        }
        if (recorder_ && recorder_->pastLastDate() > 0) {
            err_ << recorder_->pastLastDate() << (recorder_->pastLastDate() == 1 ? " reading" : " readings")
                 << " after 9999-12-31T23:59:59 (from --start) not recorded\n";
        }
        if (recorder_ && recorder_->notRecorded() > 0) {
            err_ << "record limit of " << recorder_->limit() << " rows reached: " << recorder_->notRecorded()
                 << (recorder_->notRecorded() == 1 ? " later reading was" : " later readings were")
                 << " not recorded\n";
        }
        // every run that read its input ends with what it made of it
        const TallyCounts t = run_.tally();
        err_ << t.readings << (t.readings == 1 ? " reading" : " readings") << " decoded, " << t.droppedFrames
             << (t.droppedFrames == 1 ? " frame" : " frames") << " dropped as damaged, " << t.skippedBytes
             << (t.skippedBytes == 1 ? " byte" : " bytes") << " skipped\n";
        return code;
    }

    const AppOptions& options_;
    const std::string path_;
    const InputKind kind_;
    std::istream& stdin_;
    std::ostream& out_;
    std::ostream& err_;
    ControlStates controls_;
    ProfileChoice choice_;
    PrintingRun run_;
    ByteLog byteLog_;
    std::unique_ptr<HeadlessRecorder> recorder_;
    std::unique_ptr<HeadlessPublishing> publishing_;
    std::unique_ptr<HeadlessRules> rules_;
    std::string modelCaption_;
    // the line's clock of a capture: the moment it starts from and the bytes since
    const int64_t lineStartMs_ = options_.recordStart.value_or(LocalClock::utcNowMs());
    uint64_t lineBytes_ = 0;
    std::unique_ptr<HeadlessServing> serving_;
    std::function<void()> beforeEachByte_;
};

}  // namespace

ExitCode runHeadless(const AppOptions& options, std::istream& stdinStream, std::ostream& out,
                     std::ostream& err) {
    return HeadlessRun(options, stdinStream, out, err).run();
}

#pragma once

#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <array>
#include <functional>
#include <memory>
#include <optional>

#include "AppOptions.h"
#include "ByteLog.h"
#include "ChartPaging.h"
#include "ChartPoints.h"
#include "MeterLine.h"
#include "MeterSettings.h"
#include "ReadingPace.h"
#include "ReadingSink.h"
#include "RecordFiles.h"
#include "RecordSnapshot.h"
#include "RecordStore.h"
#include "RecordTable.h"
#include "RuleForm.h"
#include "RulesEngine.h"
#include "ScaleGeometry.h"
#include "StateReading.h"
#include "SummaryFile.h"
#include "UpdateThrottle.h"
#include "WindowLayout.h"

namespace Ui {
class TFCOMM;
}
class QFileDialog;
class QCheckBox;
class QMenu;
class QLabel;
class ScaleCanvas;
class DemoMeter;
class ReadingPublisher;
class ServedChannels;
class EmbeddedServer;
class AlarmBanner;
class AlarmPrograms;
struct PublisherStatus;

// The main window: owns the meter line (which holds the meter state, the serial driver and the
// decoding) and the widgets. Its handlers are thin; the line, the pipeline, the scale geometry and
// the limit rules live in plain classes.
class TFCOMM : public QMainWindow, private ReadingSink {
    Q_OBJECT

public:
    explicit TFCOMM(const AppOptions& options, QWidget* parent = nullptr);
    ~TFCOMM() override;

    // state, for the program's own tests
    MeterState& meterState() { return line_.state(); }
    // The rules of the Record menu's "Triggers and alarms…", as its dialog sets them.
    Result<> applyRules(const RuleForm& form);
    AlarmBanner* alarmBanner() const { return alarmBanner_; }
    ControlStates& controlStates() { return line_.controls(); }
    LcdPanelModel& panelModel() { return line_.panel(); }
    TCommPortDriver& COMM2() { return line_.driver(); }
    PosixSerialPort& serialPort() { return line_.devices(); }
    FrameTexts& frameTexts() { return line_.texts(); }
    LineWatch& lineWatch() { return line_.watch(); }
    MeterLine& meterLine() { return line_; }
    ChartPoints& chartPoints() { return chartPoints_; }
    ChartPaging& chartPaging() { return chartPaging_; }
    WindowLayout& windowLayout() { return layout_; }
    Ui::TFCOMM* form() { return ui_.get(); }
    RecordState& recordState() { return record_; }
    RecordTable& recordTable() { return table_; }
    RecordStore& recordStore() { return store_; }
    RecordJournal& recordJournal() { return journal_; }
    RecordFiles& recordFiles() { return files_; }
    // Shows a file dialog of Open or Save and returns the chosen path, empty when cancelled. By
    // default the dialog is run modally; tests put in their own to drive it.
    using FileDialogRunner = std::function<QString(QFileDialog& dialog)>;
    void setFileDialogRunner(FileDialogRunner runner) { fileDialogRunner_ = std::move(runner); }
    // Brings the widgets in line with the panel model.
    void syncPanel();

public slots:
    void FormCreate();
    void COM11Click();
    void COM21Click();
    void COM31Click();
    void COM41Click();
    // ComSetup: the device behind each port name, and the meter model; both kept for the next run
    void chooseDevices();
    void chooseModel(ModelCheck model);
    void chooseVariant(bool on);
    void BTCon1Click();
    void BtDiscon1Click();
    void BtExit1Click();
    // The open port's device vanished: the line closes the port and tries it again every second
    // under the same device path while the window stays connected; a note names the port and its
    // device, and says when it is back.
    void portLost(const LineLoss& loss);
    void deviceBack(const LineBack& back);
    void ConTimerTimer();
    void SetmaxExit();
    void SetMinExit();

    // record store
    void RepeatSetClick();
    void RecordSITimeChange();
    void RecordNewClick();
    void TrecordTimer();
    void N10001Click();
    void N50001Click();
    void N100001Click();
    void N500001Click();
    void N1000001Click();
    void limitessClick();
    // data files
    void SpeedButton2Click();
    void saveasClick();
    // trend chart (TFCOMMChart.cpp)
    void ShowSeries(int Index);
    // virtual: a benchmark's window refills its chart after every New
    virtual void BtNewClick();
    void btFillClick();
    void FillClick();
    void BtFirstClick();
    void BTPreviousClick();
    void BtNextClick();
    void BTlastClick();
    void BtSaveClick();
    void MaxrecordExit();
    void ComboBox1Change(int index);
    // window layout
    void FormResize();
    void TbFdClick();

public:
    // Print: the preview of the report over `rows`, as they stand now; returns when it is closed.
    void BtPrintClick(const RecordSource& rows);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // what the meter line's chunks and readings drive in the window
    void bindLine();

    // the scale's handlers
    void KDsetup(int);
    void KDrun(int position);
    void INDataToTable();

    // ReadingSink: what a reading drives in the window, through the form's handlers
    void redrawScale() override { KDsetup(1); }
    void movePointer(int position) override { KDrun(position); }
    void recordReading() override { INDataToTable(); }
    void showChartSeries(int index) override { ShowSeries(index); }
    void clearChart() override { BtNewClick(); }
    void setBarPosition(int position) override;
    void beep() override;
    void setChartLeftAxis(double maximum, double minimum) override;
    void traceFrame(std::string_view frameHex) override;
    void addChartPoint(int series, double y) override;
    void followLastPage() override;

    // trend chart and layout wiring (TFCOMMChart.cpp)
    void bindChart();
    // mnemonics, shortcuts and Tab order (TFCOMMKeyboard.cpp)
    void bindKeyboard();
    bool filterChartKeys(QObject* watched, QEvent* event);
    void syncChart();
    void applyLayout();

    void selectPort(TComPortNumber port);
    void swapConnectButtons(QWidget* going, QWidget* coming);
    void readModelChecks();
    std::array<QCheckBox*, ModelCheckCount> modelBoxes() const;
    // the port menu's items and the port indicators above the LCD, COM1 to COM4
    std::array<QAction*, 4> portItems() const;
    std::array<QWidget*, 4> portIndicators() const;
    void bindMeterMenu();
    void syncMeterMenu();
    void applyProfile();
    void applyLimitText(class QLineEdit* edit, float& limit);
    void bindWidgets();
    void updatePortTooltips();
    void startDemoMeter();
    void finishChunk();
    void wakeTrecord();
    void drawPendingPointer();
    void dimStaleReading();
    ScaleInputs scaleInputs() const;
    QMessageBox* showNotice(QMessageBox::Icon icon, const QString& objectName, const QString& text);
    void showLineHint(const LineWatch::Hint& hint);
    // Disconnects if need be, switches to the model and connects again.
    void switchModel(const std::string& caption);
    void restWatchdog();
    void wakeWatchdog();
    void watchdogDue();
    void updateLinkTooltip();
    QString linkTooltip();
    void bindRecording();
    // triggers and alarms (TFCOMMRules.cpp)
    void bindRules();
    void editRules();
    void offerToRules();
    void alarmEvent(const AlarmEvent& event);
    static int64_t utcNowUsOfWindow();
    std::vector<QString> rulesChannels() const;
    void openRecordTable();
    void chooseRecordLimit(int item);
    bool confirmDiscardRecords();
    void offerJournalRecovery();
    // publishing to a broker (TFCOMMPublish.cpp)
    void startPublishing();
    void publishReading();
    // the page, the API and the instrument port (TFCOMMServe.cpp)
    void startServing();
    void serveReading();
    void brokerStateChanged(const PublisherStatus& status);
    // once the readings that waited for a returned broker are sent, says how many in a short note
    void noteBrokerBack();
    // sends a reading held back by --publish-every, and gives the tooltip's line on the broker
    QString publishSummary();

    std::unique_ptr<Ui::TFCOMM> ui_;
    MeterSettings settings_;
    AppOptions options_;
    QMenu* modelMenu_ = nullptr;
    QAction* variantItem_ = nullptr;

    // the meter: port, driver, assemblers, engine, state and panel, pace, watch and reconnect
    MeterLine line_;
    // the received bytes kept with --save-bytes
    ByteLog byteLog_;

    QTimer ConTimer;
    // in place of the watchdog's ticks while it rests: the link picture going dark, or the reading
    // going stale
    QTimer watchdogShot_;
    bool shotForLink_ = false;
    std::array<QWidget*, kLcdElementCount> elementWidgets_{};
    std::unique_ptr<ScaleCanvas> scale_;
    std::unique_ptr<DemoMeter> demo_;
    // drawing deferred to the end of the chunk being received
    bool inChunk_ = false;
    std::optional<std::pair<int, ScaleInputs>> pendingPointer_;
    // the position the face's pointer was last drawn at, until the face is drawn anew
    std::optional<int> pointerShown_;
    std::optional<int> pendingBar_;
    // the face and the bar follow the readings at most ten times a second
    UpdateThrottle faceAndBar_;
    // The trace of received frames. The hidden memo lays out its text for every line added or
    // dropped, which cost more than the rest of the receive path: it is given the lines only while
    // it is shown.
    QStringList frameTrace_;
    ChartPoints chartPoints_;
    ChartPaging chartPaging_;
    WindowLayout layout_;

    RecordState record_;
    RecordTable table_;
    RecordStore store_{record_, table_};
    // the unsaved rows on disk, beside the record table, until they are saved or let go
    RecordJournal journal_;
    bool journalFailed_ = false;
    RecordFiles files_{store_, table_};
    FileDialogRunner fileDialogRunner_;
    QTimer Trecord;
    bool exitConfirmed_ = false;
    bool readingDimmed_ = false;
    QPointer<QMessageBox> lostNote_;
    std::array<uint64_t, 6> tooltipSays_{};
    // with --publish, from the first Connect on
    std::unique_ptr<ReadingPublisher> publisher_;
    // with --serve or --scpi: the channel the server reads, and the server
    std::unique_ptr<ServedChannels> served_;
    std::unique_ptr<StateReading> servedFill_;
    int servedChannel_ = -1;
    std::unique_ptr<EmbeddedServer> server_;
    bool brokerLost_ = false;
    uint64_t sentBeforeLoss_ = 0;  // readings the broker had taken when it went
    // the rules from "Triggers and alarms…": none until set there
    RuleForm rulesForm_;
    std::unique_ptr<RulesEngine> rules_;
    bool rulesGate_ = false;  // the rules decide what is recorded
    std::unique_ptr<SummaryFile> rulesSummary_;
    StateReading toReading_;
    AlarmBanner* alarmBanner_ = nullptr;
    AlarmPrograms* alarmPrograms_ = nullptr;
    QTimer rulesTick_;
};

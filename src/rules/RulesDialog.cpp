#include "RulesDialog.h"

#include <QCheckBox>
#include <QDateTimeEdit>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

QLineEdit* field(const QString& text, const QString& placeholder, const QString& name) {
    auto* edit = new QLineEdit(text);
    edit->setPlaceholderText(placeholder);
    edit->setObjectName(name);
    return edit;
}

// A moment that may be left out: a box that says whether it counts, and the local date and time.
QWidget* moment(std::optional<qint64> ms, QCheckBox*& on, QDateTimeEdit*& edit, const QString& name) {
    auto* box = new QWidget;
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    on = new QCheckBox;
    on->setObjectName(name + QStringLiteral("On"));
    on->setChecked(ms.has_value());
    edit = new QDateTimeEdit(ms ? QDateTime::fromMSecsSinceEpoch(*ms) : QDateTime::currentDateTime());
    edit->setObjectName(name);
    edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    edit->setCalendarPopup(true);
    edit->setEnabled(on->isChecked());
    QObject::connect(on, &QCheckBox::toggled, edit, &QWidget::setEnabled);
    row->addWidget(on);
    row->addWidget(edit, 1);
    return box;
}

}  // namespace

RulesDialog::RulesDialog(const RuleForm& f, std::vector<QString> channels, int ownChannel, bool recording,
                         QWidget* parent)
    : QDialog(parent), channels_(std::move(channels)), ownChannel_(ownChannel) {
    setObjectName(QStringLiteral("RulesDialog"));
    auto* column = new QVBoxLayout(this);
    const QString condition = tr("value > 1.5 V");
    if (recording) {
        auto* record = new QGroupBox(tr("Recording"));
        auto* form = new QFormLayout(record);
        form->addRow(tr("Start at"), moment(f.startAtMs, startAtOn_, startAt_, QStringLiteral("startAt")));
        form->addRow(tr("Start when"),
                     startWhen_ = field(f.startWhen, condition, QStringLiteral("startWhen")));
        form->addRow(tr("Keep before a start"),
                     pre_ = field(f.preText, tr("seconds"), QStringLiteral("pre")));
        form->addRow(tr("Stop at"), moment(f.stopAtMs, stopAtOn_, stopAt_, QStringLiteral("stopAt")));
        form->addRow(tr("Stop after"), for_ = field(f.forText, tr("90, 45s, 1h30m"), QStringLiteral("for")));
        rows_ = new QSpinBox;
        rows_->setObjectName(QStringLiteral("rows"));
        rows_->setRange(0, 10000000);
        rows_->setSpecialValueText(tr("no limit"));
        rows_->setValue(f.rows);
        form->addRow(tr("Stop after rows"), rows_);
        form->addRow(tr("Stop when"),
                     stopWhen_ = field(f.stopWhen, tr("value < 200 mV"), QStringLiteral("stopWhen")));
        form->addRow(tr("Record changes beyond"),
                     changes_ = field(f.changesText, tr("percent"), QStringLiteral("changes")));
        column->addWidget(record);
    }
    auto* conditions = new QGroupBox(tr("Conditions and alarms"));
    auto* form = new QFormLayout(conditions);
    form->addRow(tr("Hysteresis"),
                 hysteresis_ = field(f.hysteresisText, tr("0.05, 5 mV"), QStringLiteral("hysteresis")));
    form->addRow(tr("Hold"), hold_ = field(f.holdText, tr("seconds"), QStringLiteral("hold")));
    alarms_ = new QPlainTextEdit(f.alarms);
    alarms_->setObjectName(QStringLiteral("alarms"));
    alarms_->setPlaceholderText(tr("one a line: hot: value > 60 °C\nquiet: no reading for 30 s"));
    alarms_->setTabChangesFocus(true);
    alarms_->setFixedHeight(alarms_->fontMetrics().lineSpacing() * 4 + 12);
    form->addRow(tr("Alarms"), alarms_);
    form->addRow(tr("Program on alarm"),
                 program_ = field(f.program, tr("run without a shell"), QStringLiteral("program")));
    form->addRow(tr("Summary file"),
                 summary_ = field(f.summaryPath, tr("FILE.csv"), QStringLiteral("summary")));
    form->addRow(tr("Summary every"), every_ = field(f.everyText, tr("seconds"), QStringLiteral("every")));
    column->addWidget(conditions);
    auto* names = new QLabel(tr("Conditions: an expression, a comparison and a threshold: value > 1.5 V, "
                                "abs(value) < 200 mA, value inside 1 .. 2 V. Channels: %1.")
                                 .arg([this] {
                                     QStringList list;
                                     for (const QString& c : channels_) list << c;
                                     return list.join(QStringLiteral(", "));
                                 }()));
    names->setWordWrap(true);
    column->addWidget(names);
    fault_ = new QLabel;
    fault_->setObjectName(QStringLiteral("fault"));
    fault_->setWordWrap(true);
    fault_->setStyleSheet(QStringLiteral("color: #b3261e"));
    fault_->hide();
    column->addWidget(fault_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &RulesDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    column->addWidget(buttons);
}

RuleForm RulesDialog::form() const {
    RuleForm f;
    if (startAtOn_ && startAtOn_->isChecked()) f.startAtMs = startAt_->dateTime().toMSecsSinceEpoch();
    if (stopAtOn_ && stopAtOn_->isChecked()) f.stopAtMs = stopAt_->dateTime().toMSecsSinceEpoch();
    if (startWhen_) {
        f.startWhen = startWhen_->text();
        f.stopWhen = stopWhen_->text();
        f.forText = for_->text();
        f.preText = pre_->text();
        f.rows = rows_->value();
        f.changesText = changes_->text();
    }
    f.hysteresisText = hysteresis_->text();
    f.holdText = hold_->text();
    f.alarms = alarms_->toPlainText();
    f.program = program_->text();
    f.summaryPath = summary_->text();
    f.everyText = every_->text();
    return f;
}

void RulesDialog::accept() {
    const Result<RuleSettings> s = form().settings(channels_, ownChannel_);
    if (!s) {
        fault_->setText(QString::fromStdString(s.error()));
        fault_->show();
        return;
    }
    QDialog::accept();
}

std::optional<RuleForm> RulesDialog::edit(QWidget* parent, const QString& title, const RuleForm& form,
                                          std::vector<QString> channels, int ownChannel, bool recording) {
    RulesDialog dialog(form, std::move(channels), ownChannel, recording, parent);
    dialog.setWindowTitle(title);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.form();
}

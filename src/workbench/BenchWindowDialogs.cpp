#include "BenchWindowDialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>

#include "ModelProfiles.h"

namespace {

// a look a second keeps the device list as adapters are plugged in and pulled out
constexpr int kRelistMs = 1000;

QLabel* errorLabel(QWidget* parent, const QString& name) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::RichText);
    label->setStyleSheet(QStringLiteral("color: #c8302a"));
    label->hide();
    return label;
}

QDialogButtonBox* okCancel(QDialog* dialog) {
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}

}  // namespace

BenchMeterDialog::BenchMeterDialog(Add add, QWidget* parent) : QDialog(parent), add_(std::move(add)) {
    setWindowTitle(tr("Add meter"));
    auto* form = new QFormLayout(this);
    name_ = new QLineEdit(this);
    name_->setObjectName(QStringLiteral("MeterName"));
    name_->setPlaceholderText(tr("what expressions call it, e.g. U"));
    device_ = new QComboBox(this);
    device_->setObjectName(QStringLiteral("MeterDevice"));
    device_->setEditable(true);
    device_->setInsertPolicy(QComboBox::NoInsert);
    device_->setMinimumContentsLength(32);
    model_ = new QComboBox(this);
    model_->setObjectName(QStringLiteral("MeterModel"));
    for (const ModelProfile& p : modelProfiles()) model_->addItem(QString::fromLatin1(p.caption));
    variant_ = new QCheckBox(tr("Variant IF7263x (digit frames)"), this);
    variant_->setObjectName(QStringLiteral("MeterVariant"));
    error_ = errorLabel(this, QStringLiteral("MeterError"));
    error_->setWordWrap(true);  // a device's error may carry advice of some length
    form->addRow(tr("&Name"), name_);
    form->addRow(tr("&Device"), device_);
    form->addRow(tr("&Model"), model_);
    form->addRow(QString(), variant_);
    form->addRow(error_);
    form->addRow(okCancel(this));
    connect(model_, &QComboBox::currentIndexChanged, this, &BenchMeterDialog::modelChanged);
    modelChanged();
    listDevices();
    relist_.setInterval(kRelistMs);
    connect(&relist_, &QTimer::timeout, this, &BenchMeterDialog::listDevices);
    relist_.start();
}

void BenchMeterDialog::modelChanged() {
    const int i = model_->currentIndex();
    const bool digit = i >= 0 && modelProfiles()[size_t(i)].family == FrameFamily::Digit;
    variant_->setEnabled(digit);
    if (!digit) variant_->setChecked(false);
}

// The list is filled again only when the devices present changed, keeping what was chosen or typed.
void BenchMeterDialog::listDevices() {
    std::vector<SerialDevice> present = listSerialDevices();
    const bool same = std::equal(present.begin(), present.end(), devices_.begin(), devices_.end(),
                                 [](const SerialDevice& a, const SerialDevice& b) {
                                     return a.path == b.path && a.label == b.label && a.denied == b.denied;
                                 });
    if (same && device_->count() > 0) return;
    const QString chosen = QString::fromStdString(choice().path);
    devices_ = std::move(present);
    const QSignalBlocker quiet(device_);
    device_->clear();
    for (const SerialDevice& d : devices_) {
        const QString path = QString::fromStdString(d.path);
        const QString label = QString::fromStdString(d.label);
        if (d.denied)
            device_->addItem(style()->standardIcon(QStyle::SP_MessageBoxWarning),
                             tr("%1 (not allowed)").arg(label), path);
        else
            device_->addItem(label, path);
    }
    const int i = device_->findData(chosen);
    if (i >= 0)
        device_->setCurrentIndex(i);
    else
        device_->setEditText(chosen);
}

LocalMeterChoice BenchMeterDialog::choice() const {
    LocalMeterChoice choice;
    choice.name = name_->text().trimmed();
    const QString text = device_->currentText().trimmed();
    const int listed = device_->findText(text);
    choice.path = (listed >= 0 ? device_->itemData(listed).toString() : text).toStdString();
    choice.model = model_->currentText().toStdString();
    choice.variant = variant_->isChecked();
    return choice;
}

void BenchMeterDialog::accept() {
    const LocalMeterChoice chosen = choice();
    QString error;
    if (chosen.name.isEmpty())
        error = tr("The meter needs a name.");
    else if (chosen.path.empty())
        error = tr("Choose the serial device the meter is on.");
    else
        error = add_(chosen);
    error_->setText(error.toHtmlEscaped());
    error_->setVisible(!error.isEmpty());
    if (error.isEmpty())
        QDialog::accept();
    else
        adjustSize();
}

BenchMathDialog::BenchMathDialog(Add add, const QStringList& names, QWidget* parent)
    : QDialog(parent), add_(std::move(add)) {
    setWindowTitle(tr("Add math"));
    auto* form = new QFormLayout(this);
    name_ = new QLineEdit(this);
    name_->setObjectName(QStringLiteral("MathName"));
    name_->setPlaceholderText(tr("e.g. P"));
    expression_ = new QLineEdit(this);
    expression_->setObjectName(QStringLiteral("MathExpression"));
    expression_->setPlaceholderText(tr("e.g. U * I or integral(U * I)"));
    expression_->setMinimumWidth(expression_->fontMetrics().horizontalAdvance(QLatin1Char('x')) * 40);
    auto* help =
        new QLabel(tr("Channels: %1\nA name that is not a plain word goes in brackets: [KR31G-ttyUSB0].\n"
                      "With + - * / ( ), numbers, abs(), sqrt() and integral(),\n"
                      "the integral over time in hours: integral(U * I) is in Wh.")
                       .arg(names.isEmpty() ? tr("none yet") : names.join(QStringLiteral(", "))),
                   this);
    error_ = errorLabel(this, QStringLiteral("MathError"));
    form->addRow(tr("&Name"), name_);
    form->addRow(tr("&Expression"), expression_);
    form->addRow(help);
    form->addRow(error_);
    form->addRow(okCancel(this));
}

// The fault is shown as the expression with the character at fault (or the end, when something
// is missing there) marked, and the text cursor is put on it.
void BenchMathDialog::accept() {
    const QString expression = expression_->text();
    const Refusal refused = add_(name_->text().trimmed(), expression);
    if (refused.error.isEmpty()) {
        QDialog::accept();
        return;
    }
    QString text = refused.error.toHtmlEscaped();
    if (refused.position >= 0) {
        const int at = std::min<int>(refused.position, int(expression.size()));
        const QString marked =
            at < expression.size() ? expression.mid(at, 1).toHtmlEscaped() : QStringLiteral("&nbsp;");
        text = tr("%1 at character %2:").arg(text).arg(at + 1) + QStringLiteral("<br><code>") +
               expression.left(at).toHtmlEscaped() + QStringLiteral("<u style=\"background: #ffd0c8\">") +
               marked + QStringLiteral("</u>") + expression.mid(at + 1).toHtmlEscaped() +
               QStringLiteral("</code>");
        expression_->setFocus();
        expression_->setCursorPosition(at);
    }
    error_->setText(text);
    error_->show();
    adjustSize();
}

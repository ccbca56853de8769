#include "DevicesDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>

#include "PosixSerialPort.h"

namespace {

// Devices come and go with a USB adapter; a look a second keeps the lists current.
constexpr int kRefreshMs = 1000;

bool sameDevices(const std::vector<SerialDevice>& a, const std::vector<SerialDevice>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const SerialDevice& x, const SerialDevice& y) {
                          return x.path == y.path && x.label == y.label && x.denied == y.denied;
                      });
}

}  // namespace

DevicesDialog::DevicesDialog(const std::array<QString, 4>& paths, int openPort, QWidget* parent)
    : QDialog(parent), original_(paths) {
    setWindowTitle(tr("Devices"));
    auto* grid = new QGridLayout(this);
    auto* intro = new QLabel(tr("The serial device behind each port name. Pick one that is plugged in, or "
                                "type any path; the names under /dev/serial/by-id stay the same when the "
                                "adapter is plugged in elsewhere."),
                             this);
    intro->setWordWrap(true);
    grid->addWidget(intro, 0, 0, 1, 2);
    for (int port = 0; port < 4; ++port) {
        auto* combo = new QComboBox(this);
        combo->setObjectName(QStringLiteral("DeviceCOM%1").arg(port + 1));
        combo->setEditable(true);
        combo->setInsertPolicy(QComboBox::NoInsert);
        combo->setMinimumContentsLength(40);
        combo->setEnabled(port != openPort);
        if (port == openPort) combo->setToolTip(tr("The port is open: disconnect to change its device."));
        auto* name = new QLabel(QStringLiteral("COM%1").arg(port + 1), this);
        name->setBuddy(combo);
        grid->addWidget(name, port + 1, 0);
        grid->addWidget(combo, port + 1, 1);
        combos_[port] = combo;
        connect(combo, &QComboBox::currentTextChanged, this, &DevicesDialog::updateAdvice);
    }
    advice_ = new QLabel(this);
    advice_->setObjectName(QStringLiteral("DeviceAdvice"));
    advice_->setWordWrap(true);
    grid->addWidget(advice_, 5, 0, 1, 2);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    grid->addWidget(buttons, 6, 0, 1, 2);

    refresh();
    for (int port = 0; port < 4; ++port) showPath(port, paths[port]);
    updateAdvice();
    refreshTimer_.setInterval(kRefreshMs);
    connect(&refreshTimer_, &QTimer::timeout, this, &DevicesDialog::refresh);
    refreshTimer_.start();
}

void DevicesDialog::refresh() {
    std::vector<SerialDevice> present = listSerialDevices();
    if (listed_ && sameDevices(present, devices_)) return;
    listed_ = true;
    std::array<QString, 4> shown;
    for (int port = 0; port < 4; ++port) shown[port] = chosenPath(port);
    devices_ = std::move(present);
    const QIcon denied = style()->standardIcon(QStyle::SP_MessageBoxWarning);
    for (int port = 0; port < 4; ++port) {
        QComboBox* combo = combos_[port];
        const QSignalBlocker quiet(combo);
        combo->clear();
        for (const SerialDevice& d : devices_) {
            const QString label = QString::fromStdString(d.label);
            if (d.denied) {
                combo->addItem(denied, tr("%1 (not allowed)").arg(label), QString::fromStdString(d.path));
            } else {
                combo->addItem(label, QString::fromStdString(d.path));
            }
        }
        if (!shown[port].isEmpty()) showPath(port, shown[port]);
    }
    updateAdvice();
}

// A row shows a device's label when the device is in the list, else the path as it was typed.
QString DevicesDialog::chosenPath(int port) const {
    const QComboBox* combo = combos_[port];
    const QString text = combo->currentText().trimmed();
    const int i = combo->findText(text);
    return i >= 0 ? combo->itemData(i).toString() : text;
}

void DevicesDialog::showPath(int port, const QString& path) {
    QComboBox* combo = combos_[port];
    const int i = combo->findData(path);
    if (i >= 0) {
        combo->setCurrentIndex(i);
    } else {
        combo->setCurrentIndex(-1);
        combo->setEditText(path);
    }
}

std::array<QString, 4> DevicesDialog::paths() const {
    std::array<QString, 4> out;
    for (int port = 0; port < 4; ++port) {
        const QString path = chosenPath(port);
        out[port] = path.isEmpty() ? original_[port] : path;
    }
    return out;
}

// Says for each row whose device the user may not open what to do about it.
void DevicesDialog::updateAdvice() {
    if (!advice_) return;
    QStringList lines;
    for (int port = 0; port < 4; ++port) {
        const std::string path = chosenPath(port).toStdString();
        if (path.empty() || userMayOpen(path)) continue;
        lines << tr("COM%1: you may not open %2. %3")
                     .arg(port + 1)
                     .arg(QString::fromStdString(path),
                          QString::fromStdString(posixserial::permissionAdvice(path)));
    }
    advice_->setText(lines.join(QLatin1Char('\n')));
    advice_->setVisible(!lines.isEmpty());
}

#pragma once

#include <QDialog>
#include <QTimer>
#include <functional>
#include <vector>

#include "MeterSource.h"
#include "SerialDeviceList.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;

// "Add meter…": a name, the serial device (those present, as the Devices dialog lists them, or
// any path typed in) and the model. `add` opens the meter and answers with an error, or with
// nothing when it is open; the dialog stays up with the error until it is put right or cancelled.
class BenchMeterDialog : public QDialog {
    Q_OBJECT

public:
    using Add = std::function<QString(const LocalMeterChoice&)>;
    BenchMeterDialog(Add add, QWidget* parent = nullptr);

    LocalMeterChoice choice() const;
    void accept() override;

private:
    void listDevices();
    void modelChanged();

    Add add_;
    QLineEdit* name_ = nullptr;
    QComboBox* device_ = nullptr;
    QComboBox* model_ = nullptr;
    QCheckBox* variant_ = nullptr;
    QLabel* error_ = nullptr;
    std::vector<SerialDevice> devices_;
    QTimer relist_;
};

// "Add math…": a name and an expression over the channels' names. A refused expression shows
// why, with the place of the fault marked in the expression.
class BenchMathDialog : public QDialog {
    Q_OBJECT

public:
    struct Refusal {
        QString error;      // empty: added
        int position = -1;  // the fault's character in the expression; -1: not in the expression
    };
    using Add = std::function<Refusal(const QString& name, const QString& expression)>;
    // `names`: the channels an expression may read, offered as a reminder
    BenchMathDialog(Add add, const QStringList& names, QWidget* parent = nullptr);

    void accept() override;

private:
    Add add_;
    QLineEdit* name_ = nullptr;
    QLineEdit* expression_ = nullptr;
    QLabel* error_ = nullptr;
};

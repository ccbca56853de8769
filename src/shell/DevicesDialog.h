#pragma once

#include <QDialog>
#include <QTimer>
#include <array>
#include <vector>

#include "SerialDeviceList.h"

class QComboBox;
class QLabel;

// Which device stands behind each of COM1..COM4: a row a port, with the serial devices present to
// pick from or any path typed in. The lists follow devices as they are plugged in and pulled out.
class DevicesDialog : public QDialog {
    Q_OBJECT

public:
    // `paths`: the devices behind COM1..COM4 now. `openPort`: the port that is open, whose row
    // cannot change (-1: none).
    DevicesDialog(const std::array<QString, 4>& paths, int openPort, QWidget* parent = nullptr);

    // The device chosen for each port; an empty row keeps the device it had.
    std::array<QString, 4> paths() const;
    // Reads the devices present again and offers them, keeping what each row shows.
    void refresh();

private:
    QString chosenPath(int port) const;
    void showPath(int port, const QString& path);
    void updateAdvice();

    std::array<QString, 4> original_;
    std::array<QComboBox*, 4> combos_{};
    QLabel* advice_ = nullptr;
    std::vector<SerialDevice> devices_;
    bool listed_ = false;
    QTimer refreshTimer_;
};

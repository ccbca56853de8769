#pragma once

#include <QToolButton>

// The served page's address in a window's status bar; a click copies it to the clipboard.
class ServeAddressItem : public QToolButton {
    Q_OBJECT
public:
    explicit ServeAddressItem(const QString& address, QWidget* parent = nullptr);

    QString address() const { return address_; }

private:
    void copy();

    QString address_;
};

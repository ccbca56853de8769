#include "ServeAddressItem.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QTimer>

ServeAddressItem::ServeAddressItem(const QString& address, QWidget* parent)
    : QToolButton(parent), address_(address) {
    setAutoRaise(true);
    setText(address_);
    setToolTip(tr("The live page of the meters: click to copy its address"));
    connect(this, &QToolButton::clicked, this, &ServeAddressItem::copy);
}

void ServeAddressItem::copy() {
    QGuiApplication::clipboard()->setText(address_);
    setText(tr("Copied %1").arg(address_));
    QTimer::singleShot(1500, this, [this] { setText(address_); });
}

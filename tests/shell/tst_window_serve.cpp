// The window serving its meter: the page's address in the status bar (a click copies it), and the
// readings the window receives on the API; an address that cannot be used is said, not fatal.
#include <QClipboard>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

#include "../cli/HeadlessTestSupport.h"
#include "../serial/PseudoTerminal.h"
#include "ServeAddressItem.h"
#include "WindowTestSupport.h"

class WindowServe : public QObject {
    Q_OBJECT

private slots:
    void addressInTheStatusBarAndReadingsServed() {
        PseudoTerminal line;
        auto w = makeWindow({"--port", "COM1=" + line.slavePath, "--serve", "0"});
        w->show();
        auto* item = w->findChild<ServeAddressItem*>("ServeAddress");
        QVERIFY(item);
        QVERIFY2(item->address().startsWith("http://127.0.0.1:"), qPrintable(item->address()));
        item->click();
        QCOMPARE(QGuiApplication::clipboard()->text(), item->address());

        w->BTCon1Click();
        QNetworkAccessManager net;
        auto latest = [&] {
            const std::string f = segmentBytes("705DB1F2700040");
            if (::write(line.master, f.data(), f.size()) != ssize_t(f.size())) return QJsonValue();
            QNetworkReply* reply = net.get(QNetworkRequest(QUrl(item->address() + "api/v1/channels")));
            QSignalSpy done(reply, &QNetworkReply::finished);
            done.wait(5000);
            const QJsonArray channels =
                QJsonDocument::fromJson(reply->readAll()).object()["channels"].toArray();
            reply->deleteLater();
            return channels.isEmpty() ? QJsonValue() : channels[0].toObject()["latest"];
        };
        QTRY_VERIFY(latest().isObject());
        const QJsonObject reading = latest().toObject();
        QCOMPARE(reading["model"].toString(), QString("KR31E"));
        QVERIFY(!reading["display"].toString().isEmpty());
    }

    void aTakenAddressIsSaid() {
        QTcpServer taken;
        QVERIFY(taken.listen(QHostAddress::LocalHost, 0));
        auto w = makeWindow({"--serve", std::to_string(taken.serverPort())});
        QTRY_VERIFY(w->findChild<QMessageBox*>("ServeRefused"));
        QVERIFY(w->findChild<QMessageBox*>("ServeRefused")->text().contains("--serve 127.0.0.1:"));
        QVERIFY(!w->findChild<ServeAddressItem*>("ServeAddress"));
    }
};

QTEST_MAIN(WindowServe)
#include "tst_window_serve.moc"

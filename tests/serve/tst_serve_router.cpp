// The server's rules without a socket: who is let in (Host, token, method, header count), what
// each address answers, the history's pages, and the metrics' samples and labels.
#include <QtTest>

#include "ServeRouter.h"
#include "ServeTestSupport.h"
#include "ServeTexts.h"
#include "ServedChannels.h"

namespace {

const std::string kToken = "s3cret-token-1";

struct Served {
    ServedChannels channels;
    int u = channels.addChannel("U", ServedKind::Meter, "KR31G", "/dev/ttyUSB0");
    std::map<std::string, PageFile> files{{"/index.html", {"text/html", "<html>page</html>"}},
                                          {"/app.js", {"text/javascript", "js"}}};
    Served() {
        for (int i = 0; i < 5; ++i)
            channels.reading(
                u, servedReading("1.23" + std::to_string(i), "V", "V", 1, "DC", 1765000000000000 + i * 1000));
    }
};

}  // namespace

class TstServeRouter : public QObject {
    Q_OBJECT

private slots:
    void access_data() {
        QTest::addColumn<bool>("withToken");
        QTest::addColumn<bool>("loopbackOnly");
        QTest::addColumn<QString>("method");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("authorization");
        QTest::addColumn<int>("status");
        const QString tokenHeader = QString::fromStdString("Bearer " + kToken);
        // the Host header on a loopback server
        QTest::newRow("loopback address") << false << true << "GET"
                                          << "/api/v1/channels"
                                          << "127.0.0.1:8080"
                                          << "" << 200;
        QTest::newRow("localhost") << false << true << "GET"
                                   << "/"
                                   << "LocalHost:8080"
                                   << "" << 200;
        QTest::newRow("IPv6 loopback") << false << true << "GET"
                                       << "/metrics"
                                       << "[::1]:8080"
                                       << "" << 200;
        QTest::newRow("anywhere in 127/8") << false << true << "GET"
                                           << "/metrics"
                                           << "127.3.2.1"
                                           << "" << 200;
        QTest::newRow("foreign name") << false << true << "GET"
                                      << "/api/v1/channels"
                                      << "evil.example:8080"
                                      << "" << 403;
        QTest::newRow("foreign name, page too") << false << true << "GET"
                                                << "/"
                                                << "evil.example"
                                                << "" << 403;
        QTest::newRow("name that starts like loopback") << false << true << "GET"
                                                        << "/"
                                                        << "127.0.0.1.evil.example"
                                                        << "" << 403;
        QTest::newRow("other address") << false << true << "GET"
                                       << "/metrics"
                                       << "192.168.1.5:8080"
                                       << "" << 403;
        QTest::newRow("no Host") << false << true << "GET"
                                 << "/metrics"
                                 << ""
                                 << "" << 403;
        QTest::newRow("broken IPv6 Host") << false << true << "GET"
                                          << "/"
                                          << "[::1"
                                          << "" << 403;
        // the token
        QTest::newRow("page needs no token") << true << false << "GET"
                                             << "/"
                                             << "meter.lan"
                                             << "" << 200;
        QTest::newRow("api without token") << true << false << "GET"
                                           << "/api/v1/channels"
                                           << "meter.lan"
                                           << "" << 401;
        QTest::newRow("metrics without token") << true << false << "GET"
                                               << "/metrics"
                                               << "meter.lan"
                                               << "" << 401;
        QTest::newRow("wrong token") << true << false << "GET"
                                     << "/api/v1/channels"
                                     << "meter.lan"
                                     << "Bearer s3cret-token-2" << 401;
        QTest::newRow("token as prefix") << true << false << "GET"
                                         << "/metrics"
                                         << "meter.lan"
                                         << "Bearer s3cret-token-1x" << 401;
        QTest::newRow("other scheme") << true << false << "GET"
                                      << "/metrics"
                                      << "meter.lan"
                                      << "Basic s3cret-token-1" << 401;
        QTest::newRow("right token") << true << false << "GET"
                                     << "/api/v1/channels"
                                     << "meter.lan" << tokenHeader << 200;
        QTest::newRow("scheme in any case") << true << false << "GET"
                                            << "/metrics"
                                            << "meter.lan"
                                            << "bearer s3cret-token-1" << 200;
        QTest::newRow("token does not lift the Host check") << true << true << "GET"
                                                            << "/metrics"
                                                            << "evil.example" << tokenHeader << 403;
        // read-only, and nothing but the page and the API
        QTest::newRow("post") << false << true << "POST"
                              << "/api/v1/channels"
                              << "127.0.0.1"
                              << "" << 405;
        QTest::newRow("delete") << false << true << "DELETE"
                                << "/"
                                << "127.0.0.1"
                                << "" << 405;
        QTest::newRow("head") << false << true << "HEAD"
                              << "/"
                              << "127.0.0.1"
                              << "" << 200;
        QTest::newRow("a file path") << false << true << "GET"
                                     << "/etc/passwd"
                                     << "127.0.0.1"
                                     << "" << 404;
        QTest::newRow("climbing up") << false << true << "GET"
                                     << "/../../etc/passwd"
                                     << "127.0.0.1"
                                     << "" << 404;
        QTest::newRow("climbing up, escaped") << false << true << "GET"
                                              << "/%2e%2e/%2e%2e/etc/passwd"
                                              << "127.0.0.1"
                                              << "" << 404;
        QTest::newRow("broken escape") << false << true << "GET"
                                       << "/api/v1/channels/%zz"
                                       << "127.0.0.1"
                                       << "" << 400;
        QTest::newRow("absolute target") << false << true << "GET"
                                         << "http://127.0.0.1/"
                                         << "127.0.0.1"
                                         << "" << 400;
        QTest::newRow("script") << false << true << "GET"
                                << "/app.js"
                                << "127.0.0.1"
                                << "" << 200;
        QTest::newRow("a channel") << false << true << "GET"
                                   << "/api/v1/channels/U"
                                   << "127.0.0.1"
                                   << "" << 200;
        QTest::newRow("a channel, escaped") << false << true << "GET"
                                            << "/api/v1/channels/%55"
                                            << "127.0.0.1"
                                            << "" << 200;
        QTest::newRow("no such channel") << false << true << "GET"
                                         << "/api/v1/channels/W"
                                         << "127.0.0.1"
                                         << "" << 404;
        QTest::newRow("readings") << false << true << "GET"
                                  << "/api/v1/channels/U/readings?since=0&limit=3"
                                  << "127.0.0.1"
                                  << "" << 200;
        QTest::newRow("limit zero") << false << true << "GET"
                                    << "/api/v1/channels/U/readings?limit=0"
                                    << "127.0.0.1"
                                    << "" << 400;
        QTest::newRow("limit too large") << false << true << "GET"
                                         << "/api/v1/channels/U/readings?limit=1001"
                                         << "127.0.0.1"
                                         << "" << 400;
        QTest::newRow("since not a number") << false << true << "GET"
                                            << "/api/v1/channels/U/readings?since=yesterday"
                                            << "127.0.0.1"
                                            << "" << 400;
        QTest::newRow("stream without upgrade") << false << true << "GET"
                                                << "/api/v1/stream"
                                                << "127.0.0.1"
                                                << "" << 426;
    }

    void access() {
        QFETCH(bool, withToken);
        QFETCH(bool, loopbackOnly);
        QFETCH(QString, method);
        QFETCH(QString, target);
        QFETCH(QString, host);
        QFETCH(QString, authorization);
        QFETCH(int, status);
        Served s;
        ServeRouter router(s.channels, {withToken ? kToken : std::string(), loopbackOnly, 64, 1000}, s.files);
        HttpAsk ask{method.toStdString(),
                    target.toStdString(),
                    host.toStdString(),
                    authorization.toStdString(),
                    "",
                    false,
                    3};
        const HttpAnswer a = router.answer(ask);
        QCOMPARE(a.status, status);
        if (status == 401) QVERIFY(a.body.find("Bearer") != std::string::npos || !a.headers.empty());
        if (status == 200) QVERIFY(!a.body.empty());
    }

    // A browser cannot set headers on a WebSocket: it names the token as a subprotocol, and the
    // handshake's answer must name it back or the browser drops the connection.
    void streamToken_data() {
        QTest::addColumn<QString>("protocols");
        QTest::addColumn<QString>("authorization");
        QTest::addColumn<bool>("stream");
        QTest::addColumn<QString>("echoed");
        const QString right = QString::fromStdString(ServeRouter::tokenProtocol(kToken));
        QTest::newRow("token as subprotocol") << "chat, " + right << "" << true << right;
        QTest::newRow("token as header") << "" << QString::fromStdString("Bearer " + kToken) << true << "";
        QTest::newRow("wrong subprotocol")
            << QString::fromStdString(ServeRouter::tokenProtocol("s3cret-token-2")) << "" << false << "";
        QTest::newRow("nothing") << ""
                                 << "" << false << "";
    }

    void streamToken() {
        QFETCH(QString, protocols);
        QFETCH(QString, authorization);
        QFETCH(bool, stream);
        QFETCH(QString, echoed);
        Served s;
        ServeRouter router(s.channels, {kToken, true, 64, 1000}, s.files);
        const HttpAnswer a = router.answer({"GET", "/api/v1/stream?channel=U", "127.0.0.1:1",
                                            authorization.toStdString(), protocols.toStdString(), true, 5});
        QCOMPARE(a.stream, stream);
        QCOMPARE(a.status, stream ? 200 : 401);
        QCOMPARE(QString::fromStdString(a.protocol), echoed);
        if (stream) QCOMPARE(a.streamChannel, s.u);
    }

    void tokenProtocolIsBase64url() {
        QCOMPARE(ServeRouter::tokenProtocol("ab?>"), std::string("bearer.YWI_Pg"));
        QCOMPARE(ServeRouter::tokenProtocol("abc"), std::string("bearer.YWJj"));
    }

    void tooManyHeaders() {
        Served s;
        ServeRouter router(s.channels, {"", true, 64, 1000}, s.files);
        QCOMPARE(router.answer({"GET", "/", "127.0.0.1", "", "", false, 64}).status, 200);
        QCOMPARE(router.answer({"GET", "/", "127.0.0.1", "", "", false, 65}).status, 431);
    }

    // Pages follow one another by the last sequence number seen, and `since` starts them at a time.
    void historyPages() {
        Served s;
        ServeRouter router(s.channels, {"", true, 64, 2}, s.files);
        std::string target = "/api/v1/channels/U/readings?limit=2";
        QStringList seen;
        for (int page = 0; page < 5 && !target.empty(); ++page) {
            const HttpAnswer a = router.answer({"GET", target, "127.0.0.1", "", "", false, 3});
            QCOMPARE(a.status, 200);
            const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(a.body)).object();
            for (const auto r : o["readings"].toArray()) seen << r.toObject()["display"].toString();
            target = o["more"].toBool() ? o["next"].toString().toStdString() : std::string();
        }
        QCOMPARE(seen, (QStringList{"1.230", "1.231", "1.232", "1.233", "1.234"}));
        const HttpAnswer late = router.answer(
            {"GET", "/api/v1/channels/U/readings?since=1765000000003", "127.0.0.1", "", "", false, 3});
        const QJsonArray r =
            QJsonDocument::fromJson(QByteArray::fromStdString(late.body)).object()["readings"].toArray();
        QCOMPARE(r.size(), 2);
        QCOMPARE(r[0].toObject()["seq"].toInt(), 4);
        QCOMPARE(r[0].toObject()["value"].toDouble(), 1.233);
    }

    void metricsSamples_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("display");
        QTest::addColumn<QString>("unit");
        QTest::addColumn<QString>("base");
        QTest::addColumn<double>("scale");
        QTest::addColumn<QString>("acdc");
        QTest::addColumn<QString>("sample");
        QTest::newRow("volts") << "U"
                               << "1.234"
                               << "V"
                               << "V" << 1.0 << "DC"
                               << "dmmview_reading{channel=\"U\",unit=\"V\",acdc=\"DC\"} 1.234 1765000000000";
        QTest::newRow("milliamps in amps")
            << "I"
            << "250.0"
            << "mA"
            << "A" << 1e-3 << "AC"
            << "dmmview_reading{channel=\"I\",unit=\"A\",acdc=\"AC\"} 0.25 1765000000000";
        QTest::newRow("kilohms in ohms")
            << "R"
            << "4.700"
            << "k\u03A9"
            << "\u03A9" << 1e3 << ""
            << "dmmview_reading{channel=\"R\",unit=\"\u03A9\",acdc=\"\"} 4700 1765000000000";
        QTest::newRow("overload")
            << "R"
            << "0.L"
            << "M\u03A9"
            << "\u03A9" << 1e6 << ""
            << "dmmview_reading{channel=\"R\",unit=\"\u03A9\",acdc=\"\"} NaN 1765000000000";
        QTest::newRow("quoted name")
            << "a\"b\\c"
            << "1.000"
            << "V"
            << "V" << 1.0 << "DC"
            << "dmmview_reading{channel=\"a\\\"b\\\\c\",unit=\"V\",acdc=\"DC\"} 1 1765000000000";
    }

    void metricsSamples() {
        QFETCH(QString, name);
        QFETCH(QString, display);
        QFETCH(QString, unit);
        QFETCH(QString, base);
        QFETCH(double, scale);
        QFETCH(QString, acdc);
        QFETCH(QString, sample);
        ServedChannels channels;
        const int id = channels.addChannel(name.toStdString());
        channels.reading(id, servedReading(display.toStdString(), unit.toStdString(), base.toStdString(),
                                           scale, acdc.toStdString(), 1765000000000123));
        ServedCounters counters;
        counters.frames = 7;
        counters.damagedFrames = 2;
        counters.skippedBytes = 11;
        channels.counters(id, counters);
        const QStringList lines =
            QString::fromStdString(ServeTexts::metrics(channels.snapshot())).split('\n');
        QVERIFY2(lines.contains(sample), qPrintable(lines.join('\n')));
        QVERIFY(lines.contains("dmmview_up 1"));
        const QString label =
            sample.mid(sample.indexOf("channel="), sample.indexOf(",unit") - sample.indexOf("channel="));
        QVERIFY(lines.contains("dmmview_frames_total{" + label + "} 7"));
        QVERIFY(lines.contains("dmmview_damaged_frames_total{" + label + "} 2"));
        QVERIFY(lines.contains("dmmview_skipped_bytes_total{" + label + "} 11"));
        QVERIFY(lines.contains("dmmview_channel_online{" + label + "} 1"));
    }
};

QTEST_GUILESS_MAIN(TstServeRouter)
#include "tst_serve_router.moc"

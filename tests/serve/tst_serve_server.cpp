// The server on real sockets with Qt's WebSocket and TCP clients: every reading reaches every
// client that reads while one that never reads loses its oldest (and is told so); oversized,
// slow, numerous and garbled clients are refused or cut off, and the server answers the next one.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QRandomGenerator>
#include <QTcpSocket>
#include <QWebSocket>
#include <QtTest>

#include "EmbeddedServer.h"
#include "ServeTestSupport.h"
#include "ServedChannels.h"

namespace {

std::unique_ptr<EmbeddedServer> startServer(ServedChannels& channels, ServeLimits limits, bool scpi = false) {
    ServeSettings s;
    s.http = ServeEndpoint{"127.0.0.1", 0};
    if (scpi) s.scpi = ServeEndpoint{"127.0.0.1", 0};
    s.limits = limits;
    std::string error;
    auto server = EmbeddedServer::start(channels, s, error);
    if (!server) qWarning("%s", error.c_str());
    return server;
}

quint16 portOf(const std::string& address) {
    const auto colon = address.rfind(':');
    return quint16(std::stoi(address.substr(colon + 1)));
}

// A blocking socket connected to the port, its receive buffer as small as the system allows.
int rawConnect(quint16 port, bool smallBuffer = false, bool blocking = true) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | (blocking ? 0 : SOCK_NONBLOCK), 0);
    if (smallBuffer) {
        const int size = 1024;
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    }
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int r = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    if (r != 0 && blocking) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// One request on a fresh connection; the whole answer, as much as came before the server closed.
QByteArray exchange(quint16 port, const QByteArray& request) {
    QTcpSocket s;
    s.connectToHost(QHostAddress::LocalHost, port);
    if (!s.waitForConnected(10000)) return {};
    s.write(request);
    QByteArray answer;
    while (s.state() == QAbstractSocket::ConnectedState && s.waitForReadyRead(10000)) answer += s.readAll();
    return answer + s.readAll();
}

QByteArray get(const QByteArray& path) {
    return "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
}

// A WebSocket client that counts what it got per channel, and checks nothing went missing.
struct Reader {
    QWebSocket socket;
    std::map<QString, QList<int>> seqs;
    qint64 lost = 0;
    explicit Reader(quint16 port, const QString& query = {}) {
        QObject::connect(&socket, &QWebSocket::textMessageReceived, [this](const QString& text) {
            const QJsonObject o = QJsonDocument::fromJson(text.toUtf8()).object();
            lost = qMax(lost, qint64(o["lost"].toDouble()));
            for (const auto item : o["readings"].toArray()) {
                const QJsonObject i = item.toObject();
                seqs[i["channel"].toString()] << i["reading"].toObject()["seq"].toInt();
            }
        });
        socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/api/v1/stream%2").arg(port).arg(query)));
    }
    int count(const QString& channel) const {
        const auto it = seqs.find(channel);
        return it == seqs.end() ? 0 : int(it->second.size());
    }
    bool inOrderFromOne(const QString& channel) const {
        const auto it = seqs.find(channel);
        if (it == seqs.end()) return false;
        for (int i = 0; i < it->second.size(); ++i)
            if (it->second[i] != i + 1) return false;
        return true;
    }
};

}  // namespace

class TstServeServer : public QObject {
    Q_OBJECT

private slots:
    void neighboursOfASlowClientGetEveryReading() {
        ServedChannels channels;
        // a long name makes every reading large, so the slow client's buffers fill up soon
        const QString name = QString(300, 'U');
        const int u = channels.addChannel(name.toStdString());
        ServeLimits limits;
        limits.streamQueue = 256;
        auto server = startServer(channels, limits);
        QVERIFY(server);
        const quint16 port = portOf(server->pageAddress().substr(0, server->pageAddress().size() - 1));

        // the slow one: a handshake, then it never reads again
        const int slow = rawConnect(port, true);
        QVERIFY(slow >= 0);
        const QByteArray handshake =
            "GET /api/v1/stream HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
            "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
        QCOMPARE(::write(slow, handshake.constData(), std::size_t(handshake.size())),
                 ssize_t(handshake.size()));
        char head[512];
        QVERIFY(::read(slow, head, sizeof head) > 12);
        QVERIFY(QByteArray(head, 12) == "HTTP/1.1 101");

        std::vector<std::unique_ptr<Reader>> readers;
        for (int i = 0; i < 3; ++i) readers.push_back(std::make_unique<Reader>(port));
        for (auto& r : readers) QTRY_VERIFY(r->socket.state() == QAbstractSocket::ConnectedState);
        QTRY_COMPARE_WITH_TIMEOUT(server->counts().connections, std::size_t(4), 10000);

        constexpr int kRounds = 120;
        constexpr int kPerRound = 100;
        for (int round = 0; round < kRounds; ++round) {
            for (int i = 0; i < kPerRound; ++i) channels.reading(u, servedReading("1.234", "V", "V", 1));
            for (auto& r : readers) QTRY_COMPARE_WITH_TIMEOUT(r->count(name), (round + 1) * kPerRound, 20000);
        }
        for (auto& r : readers) {
            QVERIFY(r->inOrderFromOne(name));
            QCOMPARE(r->lost, qint64(0));
        }
        QVERIFY2(server->counts().lost > 0, "the client that never read lost nothing");

        // when the slow one reads at last, it learns how many it lost
        QByteArray got;
        const QRegularExpression lostSaid(QStringLiteral("\"lost\":[1-9]"));
        char buffer[65536];
        while (!QString::fromLatin1(got.right(1 << 20)).contains(lostSaid)) {
            const ssize_t n = ::read(slow, buffer, sizeof buffer);
            QVERIFY(n > 0);
            got.append(buffer, int(n));
        }
        ::close(slow);
    }

    void streamOfOneChannel() {
        ServedChannels channels;
        const int u = channels.addChannel("U");
        const int i = channels.addChannel("I");
        auto server = startServer(channels, {});
        QVERIFY(server);
        const quint16 port = portOf(server->pageAddress().substr(0, server->pageAddress().size() - 1));
        Reader onlyI(port, "?channel=I");
        Reader all(port);
        QTRY_VERIFY(onlyI.socket.state() == QAbstractSocket::ConnectedState &&
                    all.socket.state() == QAbstractSocket::ConnectedState);
        QTRY_COMPARE(server->counts().connections, std::size_t(2));
        for (int n = 0; n < 10; ++n) {
            channels.reading(u, servedReading("1.000", "V", "V", 1));
            channels.reading(i, servedReading("2.000", "A", "A", 1));
        }
        QTRY_COMPARE(all.count("U") + all.count("I"), 20);
        QTRY_COMPARE(onlyI.count("I"), 10);
        QCOMPARE(onlyI.count("U"), 0);
    }

    void oversizedRequests_data() {
        QTest::addColumn<int>("headerBytes");
        QTest::addColumn<bool>("statusSure");
        QTest::newRow("20 kB header") << 20000 << true;
        QTest::newRow("1 MB header") << (1 << 20) << false;
    }

    void oversizedRequests() {
        QFETCH(int, headerBytes);
        QFETCH(bool, statusSure);
        ServedChannels channels;
        auto server = startServer(channels, {});
        QVERIFY(server);
        const quint16 port = portOf(server->pageAddress().substr(0, server->pageAddress().size() - 1));
        const QByteArray answer = exchange(
            port, "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Big: " + QByteArray(headerBytes, 'a') + "\r\n\r\n");
        // past the bound the server stops reading; the refusal may be lost to the reset that follows
        if (statusSure || !answer.isEmpty())
            QVERIFY2(answer.startsWith("HTTP/1.1 431"), answer.left(100).constData());
        QByteArray many = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n";
        for (int i = 0; i < 100; ++i) many += "X-" + QByteArray::number(i) + ": 1\r\n";
        QVERIFY(exchange(port, many + "\r\n").startsWith("HTTP/1.1 431"));
        QVERIFY(exchange(port, "POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 100000\r\n\r\n" +
                                   QByteArray(100000, 'x'))
                    .startsWith("HTTP/1.1 413"));
        QVERIFY(exchange(port, get("/")).startsWith("HTTP/1.1 200"));
    }

    // Far more connections than the bound, none of them sending a byte: those over the bound are
    // refused, those within it are let go when their time to send a request is up.
    void manySlowConnections() {
        rlimit files{};
        getrlimit(RLIMIT_NOFILE, &files);
        files.rlim_cur = std::min<rlim_t>(files.rlim_max, 20000);
        setrlimit(RLIMIT_NOFILE, &files);
        const int wanted = int(std::min<rlim_t>(10000, files.rlim_cur - 200));
        ServedChannels channels;
        ServeLimits limits;
        limits.clients = 16;
        limits.requestTime = std::chrono::milliseconds(1500);
        auto server = startServer(channels, limits);
        QVERIFY(server);
        const quint16 port = portOf(server->pageAddress().substr(0, server->pageAddress().size() - 1));
        std::vector<int> fds;
        // in batches the listen queue can hold, each let through before the next
        while (int(fds.size()) < wanted) {
            for (int i = 0; i < 200 && int(fds.size()) < wanted; ++i) {
                const int fd = rawConnect(port);
                QVERIFY(fd >= 0);
                fds.push_back(fd);
            }
            QTRY_VERIFY_WITH_TIMEOUT(server->counts().refused + server->counts().accepted >= fds.size(),
                                     30000);
            QVERIFY(server->counts().connections <= limits.clients);
        }
        QVERIFY(fds.size() >= 1000);
        QVERIFY(server->counts().connections <= limits.clients);
        // the held ones time out; a client that asks properly is answered again
        QTRY_VERIFY_WITH_TIMEOUT(exchange(port, get("/metrics")).startsWith("HTTP/1.1 200"), 30000);
        for (const int fd : fds) ::close(fd);
        QTRY_COMPARE_WITH_TIMEOUT(server->counts().connections, std::size_t(0), 30000);
    }

    void garbageOnBothPorts() {
        ServedChannels channels;
        const int u = channels.addChannel("U", ServedKind::Meter, "KR31G", "/dev/ttyUSB0");
        channels.reading(u, servedReading("1.234", "V", "V", 1));
        auto server = startServer(channels, {}, true);
        QVERIFY(server);
        const quint16 httpPort = portOf(server->pageAddress().substr(0, server->pageAddress().size() - 1));
        const quint16 scpiPort = portOf(server->scpiAddress());
        QRandomGenerator random(44);
        for (int round = 0; round < 20; ++round) {
            QByteArray junk(1 + int(random.bounded(20000)), Qt::Uninitialized);
            for (char& c : junk) c = char(random.bounded(256));
            if (round % 2) junk.prepend("GET / HTTP/1.1\r\n");
            const QByteArray http = exchange(httpPort, junk);
            QVERIFY(http.isEmpty() || http.startsWith("HTTP/1.1 4"));
            QTcpSocket scpi;
            scpi.connectToHost(QHostAddress::LocalHost, scpiPort);
            QVERIFY(scpi.waitForConnected(10000));
            scpi.write(junk + "\n");
            scpi.close();
        }
        QVERIFY(exchange(httpPort, get("/api/v1/channels")).contains("\"name\":\"U\""));
        QTcpSocket scpi;
        scpi.connectToHost(QHostAddress::LocalHost, scpiPort);
        QVERIFY(scpi.waitForConnected(10000));
        // an endless line is cut off and said to be, and the next line is heard
        scpi.write(QByteArray(100000, 'R') + "\n*IDN?\nREAD?\nSYST:ERR?\n");
        QByteArray answers;
        while (answers.count('\n') < 3 && scpi.waitForReadyRead(10000)) answers += scpi.readAll();
        QCOMPARE(answers, QByteArray("dmmview,KR31G,/dev/ttyUSB0," DMM_TEST_VERSION
                                     "\n1.234\n-363,\"Input buffer overrun\"\n"));
        QTRY_COMPARE(server->counts().connections, std::size_t(1));
    }

    void aTakenPortIsOneLine() {
        ServedChannels channels;
        auto first = startServer(channels, {});
        QVERIFY(first);
        ServeSettings s;
        s.http = ServeEndpoint{"127.0.0.1",
                               portOf(first->pageAddress().substr(0, first->pageAddress().size() - 1))};
        std::string error;
        QVERIFY(!EmbeddedServer::start(channels, s, error));
        QVERIFY2(error.rfind("--serve 127.0.0.1:", 0) == 0 && error.find('\n') == std::string::npos,
                 error.c_str());
    }
};

QTEST_GUILESS_MAIN(TstServeServer)
#include "tst_serve_server.moc"

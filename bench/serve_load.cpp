// The server under the load the issue of a busy bench brings: one meter at its full line rate
// (174 readings a second) streamed to 100 WebSocket clients that read and one that never reads,
// for 20 s. Figures: the serving process's CPU (the channels' feed and the server's thread) as a
// share of one core, and the readings every reading client got (all of them, or the run fails).
// Then /metrics of 32 channels asked 500 times on one connection: the median and slowest answer.
// The clients run in a child process, so their work is not counted.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "EmbeddedServer.h"
#include "ServedChannels.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kClients = 100;
constexpr int kRate = 174;
constexpr int kSeconds = 20;

int connectTo(uint16_t port, int receiveBuffer = 0) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (receiveBuffer) ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return -1;
    return fd;
}

bool handshake(int fd) {
    const char request[] =
        "GET /api/v1/stream HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
        "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
    if (::write(fd, request, sizeof request - 1) != ssize_t(sizeof request - 1)) return false;
    std::string head;
    char c;
    while (head.find("\r\n\r\n") == std::string::npos && ::read(fd, &c, 1) == 1) head += c;
    return head.rfind("HTTP/1.1 101", 0) == 0;
}

// The clients' side: counts the readings in the frames each client gets until every one has
// `expected` or nothing comes for 10 s; writes the counts to `out`.
void runClients(uint16_t port, int ready, int expectedPipe, int out) {
    std::vector<int> fds;
    for (int i = 0; i < kClients; ++i) {
        const int fd = connectTo(port);
        if (fd < 0 || !handshake(fd)) _exit(2);
        fds.push_back(fd);
    }
    const int idle = connectTo(port, 2048);
    if (idle < 0 || !handshake(idle)) _exit(2);
    char go = 1;
    if (::write(ready, &go, 1) != 1) _exit(2);
    std::vector<long> counts(kClients, 0);
    std::vector<std::string> pending(kClients);
    long expected = -1;
    std::vector<pollfd> polls;
    for (const int fd : fds) polls.push_back({fd, POLLIN, 0});
    polls.push_back({expectedPipe, POLLIN, 0});
    std::vector<char> buffer(1 << 16);
    auto done = [&] {
        return expected >= 0 &&
               std::all_of(counts.begin(), counts.end(), [&](long n) { return n >= expected; });
    };
    while (!done()) {
        if (::poll(polls.data(), polls.size(), 10000) <= 0) break;
        if (polls.back().revents & POLLIN) {
            if (::read(expectedPipe, &expected, sizeof expected) != sizeof expected) _exit(2);
            polls.back().fd = -1;
        }
        for (int i = 0; i < kClients; ++i) {
            if (!(polls[std::size_t(i)].revents & POLLIN)) continue;
            const ssize_t n = ::read(fds[std::size_t(i)], buffer.data(), buffer.size());
            if (n <= 0) _exit(3);
            // unmasked text frames of JSON: each reading starts its item with {"channel":
            std::string& p = pending[std::size_t(i)];
            p.append(buffer.data(), std::size_t(n));
            std::size_t at = 0;
            while ((at = p.find("{\"channel\":", at)) != std::string::npos) {
                ++counts[std::size_t(i)];
                at += 11;
            }
            p.erase(0, p.size() > 10 ? p.size() - 10 : 0);
        }
    }
    ::write(out, counts.data(), counts.size() * sizeof(long));
    _exit(0);
}

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

MeterReading reading(int64_t utcUs, int i) {
    MeterReading r;
    r.utcUs = utcUs;
    const int counts = 1000 + i % 3000;
    r.counts = counts;
    r.value = counts / 1000.0;
    r.baseValue = r.value;
    r.display = std::to_string(counts / 1000) + "." + std::to_string(1000 + counts % 1000).substr(1);
    r.unit = r.lcdUnit = r.baseUnit = "V";
    r.acdc = "DC";
    r.range = "AUTO";
    r.model = "KR31G";
    return r;
}

}  // namespace

int main() {
    // --- the stream ---
    int ready[2], expected[2], counts[2];
    if (::pipe(ready) || ::pipe(expected) || ::pipe(counts)) return 2;
    ServedChannels channels;
    const int meter = channels.addChannel("KR31G", ServedKind::Meter, "KR31G", "/dev/ttyUSB0");
    ServeSettings settings;
    settings.http = ServeEndpoint{"127.0.0.1", 0};
    settings.limits.clients = kClients + 8;
    std::string error;
    auto server = EmbeddedServer::start(channels, settings, error);
    if (!server) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }
    const std::string page = server->pageAddress();
    const uint16_t port = uint16_t(std::stoi(page.substr(page.rfind(':') + 1)));
    const pid_t child = fork();
    if (child == 0) runClients(port, ready[1], expected[0], counts[1]);
    char go = 0;
    if (::read(ready[0], &go, 1) != 1) return 2;
    while (server->counts().connections < std::size_t(kClients + 1))
        std::this_thread::sleep_for(std::chrono::milliseconds(10));

    const double cpuBefore = cpuSeconds();
    const auto start = Clock::now();
    const long total = long(kRate) * kSeconds;
    for (long i = 0; i < total; ++i) {
        std::this_thread::sleep_until(start + std::chrono::microseconds(i * 1000000 / kRate));
        const int64_t now = std::chrono::duration_cast<std::chrono::microseconds>(
                                std::chrono::system_clock::now().time_since_epoch())
                                .count();
        channels.reading(meter, reading(now, int(i)));
    }
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = cpuSeconds() - cpuBefore;
    ::write(expected[1], &total, sizeof total);
    std::vector<long> got(kClients, 0);
    std::size_t read = 0;
    while (read < got.size() * sizeof(long)) {
        const ssize_t n =
            ::read(counts[0], reinterpret_cast<char*>(got.data()) + read, got.size() * sizeof(long) - read);
        if (n <= 0) break;
        read += std::size_t(n);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    const long fewest = *std::min_element(got.begin(), got.end());
    std::printf("stream: %ld readings at %d/s to %d reading clients and 1 that never reads, %.1f s\n", total,
                kRate, kClients, wall);
    std::printf("  serving process CPU %.2f s = %.2f %% of one core\n", cpu, 100.0 * cpu / wall);
    std::printf("  every reading client got at least %ld of %ld readings; the idle one lost %llu\n", fewest,
                total, (unsigned long long)server->counts().lost);

    // --- the metrics of 32 channels ---
    for (int c = 1; c < 32; ++c) {
        const int id = channels.addChannel("CH" + std::to_string(c), ServedKind::Meter, "KR31G",
                                           "/dev/ttyUSB" + std::to_string(c));
        channels.reading(id, reading(1765000000000000, c));
    }
    const int fd = connectTo(port);
    std::vector<double> ms;
    const std::string request = "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    std::vector<char> buffer(1 << 16);
    for (int i = 0; i < 500; ++i) {
        const auto t0 = Clock::now();
        if (::write(fd, request.data(), request.size()) != ssize_t(request.size())) return 2;
        std::string answer;
        std::size_t length = std::string::npos;
        while (length == std::string::npos || answer.size() < length) {
            const ssize_t n = ::read(fd, buffer.data(), buffer.size());
            if (n <= 0) return 2;
            answer.append(buffer.data(), std::size_t(n));
            const auto end = answer.find("\r\n\r\n");
            const auto field = answer.find("Content-Length: ");
            if (end != std::string::npos && field != std::string::npos)
                length = end + 4 + std::stoul(answer.substr(field + 16));
        }
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
    std::sort(ms.begin(), ms.end());
    std::printf("metrics: 32 channels, 500 requests: median %.3f ms, 99th %.3f ms, slowest %.3f ms\n",
                ms[250], ms[494], ms.back());
    const bool ok = fewest == total && ms[250] < 5.0;
    if (!ok) std::printf("FAILED\n");
    return ok ? 0 : 1;
}

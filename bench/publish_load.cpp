// A capture of 1,000,000 readings decoded without a window and published, every one, to a broker
// of our own on the loopback: the program's CPU time per reading (user and system, the broker's
// not counted) against the same run without publishing, and every message counted, in order, by
// a subscriber. Prints its figures; exits 1 when a message is missing or out of order.
#include <sys/resource.h>
#include <sys/wait.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "LocalBroker.h"

namespace {

// 1.234 V DC AUTO and -3999 V DC MANU: each frame is a reading of its own.
const char* const kFrames[2] = {"705DB1F2700040", "49F3F3F3F00040"};

void writeCapture(const std::string& path, long frames) {
    std::string pair;
    for (const char* hex : kFrames) {
        for (int i = 0; i < 14; ++i) {
            const int digit = hex[i] <= '9' ? hex[i] - '0' : hex[i] - 'A' + 10;
            pair.push_back(static_cast<char>(((i + 1) << 4) | digit));
        }
    }
    std::ofstream out(path, std::ios::binary);
    for (long i = 0; i < frames / 2; ++i) out << pair;
}

// Runs the program with `args`, its output dropped; the CPU seconds it used, or -1.
double runProgram(const std::vector<std::string>& args, double& wallSeconds) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &files, nullptr, argv.data(), environ) != 0) return -1;
    posix_spawn_file_actions_destroy(&files);
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

}  // namespace

int main(int argc, char** argv) {
    long frames = 1000000;
    if (argc > 2 && std::strcmp(argv[1], "--frames") == 0) frames = std::atol(argv[2]);
    const std::string dir =
        std::filesystem::temp_directory_path() / ("publish_load." + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string capture = dir + "/load.bin";
    writeCapture(capture, frames);

    LocalBroker broker(dir);
    if (!broker.start()) {
        std::cerr << "the broker did not start\n";
        return 2;
    }
    std::atomic<long> received{0};
    std::atomic<long> outOfOrder{0};
    Subscriber sub(broker, "bench/+/reading", "bench-watcher", [&](const mosquitto_message& m) {
        const std::string_view text(static_cast<const char*>(m.payload), static_cast<size_t>(m.payloadlen));
        const auto at = text.find("\"seq\":");
        const long n = at == std::string_view::npos ? 0 : std::strtol(text.data() + at + 6, nullptr, 10);
        if (n != received.load() + 1) ++outOfOrder;
        ++received;
    });
    sub.waitFor([](auto&) { return true; });

    double plainWall = 0;
    double publishWall = 0;
    const double plain = runProgram({DMMVIEW_PATH, "--decode", capture}, plainWall);
    const double published = runProgram(
        {DMMVIEW_PATH, "--decode", capture, "--publish", broker.url() + "/bench", "--publish-id", "load"},
        publishWall);
    for (int i = 0; i < 1200 && received.load() < frames; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));

    double load[3] = {};
    if (getloadavg(load, 3) < 0) load[0] = -1;
    std::printf("readings:                     %ld\n", frames);
    std::printf("decode only:                  %.3f s CPU, %.3f us a reading (%.2f s wall)\n", plain,
                plain * 1e6 / frames, plainWall);
    std::printf("decode and publish:           %.3f s CPU, %.3f us a reading (%.2f s wall)\n", published,
                published * 1e6 / frames, publishWall);
    std::printf("received by the subscriber:   %ld, out of order: %ld\n", received.load(), outOfOrder.load());
    std::printf("load average:                 %.2f\n", load[0]);
    broker.stop();
    std::filesystem::remove_all(dir);
    return plain >= 0 && published >= 0 && received.load() == frames && outOfOrder.load() == 0 ? 0 : 1;
}

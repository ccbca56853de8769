// CPU use of the bench without a window: `--local N` runs N simulated meters on pseudo-terminals
// at their line's full rate (KR31G, 19200 Bd, a reading every 5.7 ms), `--broker N` N meters that
// publish 10 readings a second each to a broker of our own. The bench records every reading of
// every channel (and, locally, a math channel over the first two meters); its user and system
// time over the measuring period is printed as a share of one core, with the readings it took
// per meter and second. Exits 1 when the bench did not run or took fewer readings than were sent.
// `--window` as the last argument measures the bench window instead (it needs a display); its
// readings are counted from the recorded file.
#include <sys/wait.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>

#include "LocalBroker.h"
#include "LocalClock.h"
#include "MeterState.h"
#include "ReadingMessage.h"

namespace {

pid_t spawn(const std::vector<std::string>& args, const std::string& out = "/dev/null",
            const std::string& err = "/dev/null") {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&files, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &files, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&files);
    return rc == 0 ? pid : -1;
}

double cpuSeconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    // the fields after the command's name, which is in parentheses and may hold spaces
    std::istringstream rest(text.substr(text.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i >= 14) ticks += std::stod(field);
    }
    return ticks / double(sysconf(_SC_CLK_TCK));
}

std::string readFirstLine(const std::string& path) {
    for (int i = 0; i < 100; ++i) {
        std::ifstream in(path);
        std::string line;
        if (std::getline(in, line) && !line.empty()) return line;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return {};
}

// Meters that publish as dmmview --publish does: status retained, a reading every 100 ms.
class PublishingMeters {
public:
    PublishingMeters(const LocalBroker& broker, int count) {
        mosquitto_lib_init();
        for (int k = 0; k < count; ++k) {
            mosquitto* m = mosquitto_new(nullptr, true, nullptr);
            const std::string base = "load/M" + std::to_string(k + 1);
            mosquitto_will_set(m, (base + "/status").c_str(), 7, "offline", 1, true);
            mosquitto_connect(m, "127.0.0.1", broker.port(), 30);
            mosquitto_loop_start(m);
            mosquitto_publish(m, nullptr, (base + "/status").c_str(), 6, "online", 1, true);
            clients_.push_back(m);
        }
        thread_ = std::thread([this] { run(); });
    }
    ~PublishingMeters() {
        stop_ = true;
        thread_.join();
        for (mosquitto* m : clients_) {
            mosquitto_disconnect(m);
            mosquitto_loop_stop(m, true);
            mosquitto_destroy(m);
        }
    }
    long sent() const { return sent_; }

private:
    void run() {
        MeterState s;
        s.ValueText = "12.00";
        s.UnitText = "V";
        s.AcDcText = "DC";
        s.AutoText = "AUTO";
        s.NumericValue = 1200;
        LocalClock clock;
        uint64_t seq = 0;
        auto next = std::chrono::steady_clock::now();
        while (!stop_) {
            ++seq;
            for (std::size_t k = 0; k < clients_.size(); ++k) {
                const QByteArray json = readingJson(seq, isoTime(clock.now()), s, "KR31G");
                const std::string topic = "load/M" + std::to_string(k + 1) + "/reading";
                mosquitto_publish(clients_[k], nullptr, topic.c_str(), int(json.size()), json.constData(), 1,
                                  false);
                ++sent_;
            }
            next += std::chrono::milliseconds(100);
            std::this_thread::sleep_until(next);
        }
    }
    std::vector<mosquitto*> clients_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<long> sent_{0};
};

}  // namespace

int main(int argc, char** argv) {
    const bool local = argc > 2 && std::strcmp(argv[1], "--local") == 0;
    const bool viaBroker = argc > 2 && std::strcmp(argv[1], "--broker") == 0;
    if (!local && !viaBroker) {
        std::cerr << "usage: workbench_load --local N | --broker N [seconds] [--window]\n";
        return 2;
    }
    const int meters = std::atoi(argv[2]);
    const bool window = std::strcmp(argv[argc - 1], "--window") == 0;
    const int seconds = argc > 3 && std::strcmp(argv[3], "--window") != 0 ? std::atoi(argv[3]) : 20;
    const std::string dir =
        std::filesystem::temp_directory_path() / ("workbench_load." + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);

    std::vector<pid_t> sims;
    std::unique_ptr<LocalBroker> broker;
    std::unique_ptr<PublishingMeters> publishers;
    std::vector<std::string> args = {DMMVIEW_PATH, "--record", dir + "/bench.csv"};
    if (window) args.insert(args.end(), {"--bench", "--no-settings"});
    if (local) {
        for (int k = 0; k < meters; ++k) {
            const std::string out = dir + "/sim" + std::to_string(k) + ".out";
            sims.push_back(spawn({DMMSIM_PATH, "--model", "KR31G", "--scenario", "sine", "--pty"}, out));
            args.insert(args.end(),
                        {"--meter", "M" + std::to_string(k + 1) + "=KR31G@" + readFirstLine(out)});
        }
        if (meters >= 2) args.insert(args.end(), {"--math", "P=M1*M2"});
    } else {
        broker = std::make_unique<LocalBroker>(dir);
        if (!broker->start()) {
            std::cerr << "the broker did not start\n";
            return 2;
        }
        publishers = std::make_unique<PublishingMeters>(*broker, meters);
        args.insert(args.end(), {"--subscribe", broker->url() + "/load"});
    }
    const pid_t bench = spawn(args, dir + "/bench.out", dir + "/bench.err");
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const double cpu0 = cpuSeconds(bench);
    const auto t0 = std::chrono::steady_clock::now();
    const long sent0 = publishers ? publishers->sent() : 0;
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double cpu = cpuSeconds(bench) - cpu0;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const long sent = publishers ? publishers->sent() - sent0 : 0;

    ::kill(bench, SIGTERM);
    int status = 0;
    ::waitpid(bench, &status, 0);
    for (const pid_t p : sims) ::kill(p, SIGTERM);
    for (const pid_t p : sims) ::waitpid(p, nullptr, 0);
    publishers.reset();

    // the bench's own count of readings per channel, from its summary; the window's from its file
    std::string line;
    long readings = 0;
    int channels = 0;
    if (window) {
        std::ifstream recorded(dir + "/bench.csv");
        std::set<std::string> names;
        std::getline(recorded, line);
        while (std::getline(recorded, line)) {
            const std::size_t from = line.find(',') + 1;
            const std::string name = line.substr(from, line.find(',', from) - from);
            if (name == "P") continue;
            names.insert(name);
            ++readings;
        }
        channels = int(names.size());
    } else {
        std::ifstream summary(dir + "/bench.out");
        std::getline(summary, line);
        while (std::getline(summary, line)) {
            if (line.rfind("P\t", 0) == 0) continue;
            readings += std::atol(line.c_str() + line.find('\t') + 1);
            ++channels;
        }
    }
    double load[3] = {};
    if (getloadavg(load, 3) < 0) load[0] = -1;
    const double total = seconds + 3.0;
    std::printf("meters:                 %d %s\n", meters,
                local ? "local, at the line's full rate" : "through a broker, 10 readings/s");
    std::printf("bench CPU:              %.2f %% of a core over %.1f s\n", 100.0 * cpu / wall, wall);
    std::printf("readings taken:         %ld over %d channels, %.1f per meter and second of the run\n",
                readings, channels, readings / double(std::max(channels, 1)) / total);
    if (publishers || viaBroker) std::printf("readings sent (measured part): %ld\n", sent);
    std::printf("load average:           %.2f\n", load[0]);
    const bool ran = (window || (WIFEXITED(status) && WEXITSTATUS(status) == 0)) && channels == meters;
    if (!ran)
        std::cerr << "the bench did not run as asked; see " << dir << "\n";
    else
        std::filesystem::remove_all(dir);
    return ran ? 0 : 1;
}

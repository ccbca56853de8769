#pragma once

// A broker of our own on a free loopback port, started from a configuration file written into a
// folder of the caller's, and a subscriber that keeps what it receives. The benchmark and the
// tests use them; nothing else is started, and the broker never outlives its object.
#include <arpa/inet.h>
#include <fcntl.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

class LocalBroker {
public:
    explicit LocalBroker(std::string dir) : dir_(std::move(dir)), port_(freePort()) {}
    ~LocalBroker() { stop(); }
    LocalBroker(const LocalBroker&) = delete;
    LocalBroker& operator=(const LocalBroker&) = delete;

    int port() const { return port_; }
    std::string url(const std::string& user = {}) const {
        return std::string(tls_ ? "mqtts://" : "mqtt://") + (user.empty() ? "" : user + "@") +
               "127.0.0.1:" + std::to_string(port_);
    }
    std::string path(const std::string& name) const { return dir_ + "/" + name; }

    // Logins only for this user, with this password.
    bool requirePassword(const std::string& user, const std::string& password) {
        passwordFile_ = path("passwords");
        return run("mosquitto_passwd -b -c '" + passwordFile_ + "' '" + user + "' '" + password + "'");
    }
    // Access for anonymous clients to topics under `prefix` alone.
    void allowOnly(const std::string& prefix) {
        aclFile_ = path("acl");
        std::ofstream(aclFile_) << "topic readwrite " << prefix << "/#\ntopic readwrite sync\n";
    }
    // A broker that stays connected and answers nothing, and its return.
    void pause() { ::kill(pid_, SIGSTOP); }
    void resume() { ::kill(pid_, SIGCONT); }

    // TLS with a certificate for 127.0.0.1 signed by ca.crt; other-ca.crt signed nothing here.
    bool useTls() {
        tls_ = true;
        const std::string ec = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes ";
        return run(
            "cd '" + dir_ + "' && openssl req -x509 " + ec +
            "-keyout ca.key -out ca.crt -days 2 -subj /CN=TestCA" + " && openssl req -x509 " + ec +
            "-keyout other.key -out other-ca.crt -days 2 -subj /CN=OtherCA" + " && openssl req " + ec +
            "-keyout server.key -out server.csr -subj /CN=127.0.0.1" +
            " && printf 'subjectAltName=IP:127.0.0.1\\n' > san.ext" +
            " && openssl x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial -out server.crt" +
            " -days 2 -extfile san.ext");
    }

    // Starts the broker and waits (at most 5 s) until it takes connections.
    bool start() {
        std::ofstream conf(path("broker.conf"));
        // started as root the broker would become another user, one that cannot read this folder
        const passwd* me = ::getpwuid(::geteuid());
        if (me) conf << "user " << me->pw_name << '\n';
        conf << "listener " << port_ << " 127.0.0.1\n"
             << "allow_anonymous " << (passwordFile_.empty() ? "true" : "false") << '\n'
             << "persistence true\npersistence_location " << dir_
             << "/\n"
             // a bound well above any test's backlog: with none (0) this broker answers a refused
             // publish in a way the client library takes for a broken connection
             << "max_queued_messages 1000000\nmax_inflight_messages 0\nlog_dest none\n";
        if (!passwordFile_.empty()) conf << "password_file " << passwordFile_ << '\n';
        if (!aclFile_.empty()) conf << "acl_file " << aclFile_ << '\n';
        if (tls_)
            conf << "cafile " << path("ca.crt") << "\ncertfile " << path("server.crt") << "\nkeyfile "
                 << path("server.key") << '\n';
        conf.close();
        const std::string confPath = path("broker.conf");
        char* argv[] = {const_cast<char*>("/usr/sbin/mosquitto"), const_cast<char*>("-c"),
                        const_cast<char*>(confPath.c_str()), nullptr};
        // its words before the configuration is read (a warning about root) are not wanted
        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
        const int spawned = posix_spawn(&pid_, argv[0], &files, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&files);
        if (spawned != 0) return false;
        for (int i = 0; i < 250; ++i) {
            if (accepts()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        stop();
        return false;
    }

    // Ends the broker (it saves its sessions and retained messages first), killing it after 5 s.
    void stop() {
        if (pid_ <= 0) return;
        resume();
        ::kill(pid_, SIGTERM);
        for (int i = 0; i < 500; ++i) {
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    static bool run(const std::string& command) {
        return std::system(("(" + command + ") >/dev/null 2>&1").c_str()) == 0;
    }

    static sockaddr_in loopback(int port) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return a;
    }
    static int freePort() {
        const int s = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a = loopback(0);
        socklen_t len = sizeof a;
        ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
        ::close(s);
        return ntohs(a.sin_port);
    }
    bool accepts() const {
        const int s = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a = loopback(port_);
        const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        ::close(s);
        return ok;
    }

    std::string dir_;
    int port_;
    bool tls_ = false;
    std::string passwordFile_;
    std::string aclFile_;
    pid_t pid_ = -1;
};

// Subscribes to `filter` with QoS 1 on a session the broker keeps, so nothing published while it
// reconnects is lost to it. Messages are kept in arrival order.
class Subscriber {
public:
    struct Message {
        std::string topic;
        std::string payload;
        bool retained;
    };

    // With `onMessage` the messages go there, on the client's thread, instead of being kept.
    Subscriber(const LocalBroker& broker, const std::string& filter, const std::string& id,
               std::function<void(const mosquitto_message&)> onMessage = {})
        : filter_(filter), onMessage_(std::move(onMessage)) {
        mosquitto_lib_init();
        mosq_ = mosquitto_new(id.c_str(), false, this);
        mosquitto_reconnect_delay_set(mosq_, 1, 1, false);
        mosquitto_connect_callback_set(mosq_, [](mosquitto* m, void* self, int rc) {
            if (rc == 0) mosquitto_subscribe(m, nullptr, static_cast<Subscriber*>(self)->filter_.c_str(), 1);
        });
        mosquitto_subscribe_callback_set(mosq_, [](mosquitto*, void* self, int, int, const int*) {
            auto* s = static_cast<Subscriber*>(self);
            std::lock_guard<std::mutex> lock(s->mutex_);
            s->subscribed_ = true;
            s->arrived_.notify_all();
        });
        mosquitto_publish_callback_set(mosq_, [](mosquitto*, void* self, int mid) {
            auto* s = static_cast<Subscriber*>(self);
            std::lock_guard<std::mutex> lock(s->mutex_);
            s->syncMid_ = mid;
            s->arrived_.notify_all();
        });
        mosquitto_message_callback_set(mosq_, [](mosquitto*, void* self, const mosquitto_message* m) {
            auto* s = static_cast<Subscriber*>(self);
            if (s->onMessage_) return s->onMessage_(*m);
            std::lock_guard<std::mutex> lock(s->mutex_);
            s->messages_.push_back(
                {m->topic, std::string(static_cast<const char*>(m->payload), m->payloadlen), m->retain});
            s->arrived_.notify_all();
        });
        mosquitto_connect(mosq_, "127.0.0.1", broker.port(), 30);
        mosquitto_loop_start(mosq_);
    }
    ~Subscriber() {
        mosquitto_disconnect(mosq_);
        mosquitto_loop_stop(mosq_, true);
        mosquitto_destroy(mosq_);
    }

    // Waits until `pred(messages)` holds or `limit` passes; returns whether it held.
    template <typename Pred>
    bool waitFor(Pred pred, std::chrono::milliseconds limit = std::chrono::milliseconds(30000)) {
        std::unique_lock<std::mutex> lock(mutex_);
        return arrived_.wait_for(lock, limit, [&] { return subscribed_ && pred(messages_); });
    }
    // Returns once the broker has taken every acknowledgement sent so far: it answers this
    // connection's packets in order.
    bool sync() {
        int mid = 0;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            syncMid_ = -1;
        }
        if (mosquitto_publish(mosq_, &mid, "sync", 0, nullptr, 1, false) != MOSQ_ERR_SUCCESS) return false;
        std::unique_lock<std::mutex> lock(mutex_);
        return arrived_.wait_for(lock, std::chrono::seconds(10), [&] { return syncMid_ == mid; });
    }
    std::vector<Message> messages() {
        std::lock_guard<std::mutex> lock(mutex_);
        return messages_;
    }
    // The payloads on topics ending in `suffix`.
    std::vector<std::string> payloads(const std::string& suffix) {
        std::vector<std::string> out;
        for (const auto& m : messages()) {
            if (m.topic.size() >= suffix.size() &&
                m.topic.compare(m.topic.size() - suffix.size(), suffix.size(), suffix) == 0)
                out.push_back(m.payload);
        }
        return out;
    }

private:
    std::string filter_;
    std::function<void(const mosquitto_message&)> onMessage_;
    mosquitto* mosq_ = nullptr;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<Message> messages_;
    bool subscribed_ = false;
    int syncMid_ = -1;
};

// Publishes what a test makes up, as any client of the broker could: QoS 1, optionally retained.
class RawPublisher {
public:
    RawPublisher(const LocalBroker& broker, const std::string& id) {
        mosquitto_lib_init();
        mosq_ = mosquitto_new(id.c_str(), true, this);
        mosquitto_publish_callback_set(mosq_, [](mosquitto*, void* self, int) {
            auto* p = static_cast<RawPublisher*>(self);
            std::lock_guard<std::mutex> lock(p->mutex_);
            ++p->acknowledged_;
            p->changed_.notify_all();
        });
        mosquitto_connect(mosq_, "127.0.0.1", broker.port(), 30);
        mosquitto_loop_start(mosq_);
    }
    ~RawPublisher() {
        mosquitto_disconnect(mosq_);
        mosquitto_loop_stop(mosq_, true);
        mosquitto_destroy(mosq_);
    }
    bool publish(const std::string& topic, const std::string& payload, bool retain = false) {
        std::lock_guard<std::mutex> lock(mutex_);
        ++sent_;
        return mosquitto_publish(mosq_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                                 payload.data(), 1, retain) == MOSQ_ERR_SUCCESS;
    }
    // Waits until the broker acknowledged everything published so far.
    bool waitAcknowledged(std::chrono::milliseconds limit = std::chrono::milliseconds(30000)) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, limit, [this] { return acknowledged_ >= sent_; });
    }

private:
    mosquitto* mosq_ = nullptr;
    std::mutex mutex_;
    std::condition_variable changed_;
    int sent_ = 0;
    int acknowledged_ = 0;
};

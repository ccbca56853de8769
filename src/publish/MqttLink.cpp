#include "MqttLink.h"

#include <fcntl.h>
#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <netdb.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const char kSessionProperty[] = "session";

std::string connackReason(int code) {
    switch (code) {
        case 1:
            return "the broker does not speak this protocol version";
        case 2:
            return "the broker refused the client name";
        case 3:
            return "the broker is unavailable";
        case 4:
            return "the broker refused the user name or password";
        case 5:
            return "the broker refused the login (wrong user name or password, or a user not let in)";
        default:
            return "the broker refused the connection (code " + std::to_string(code) + ")";
    }
}

// The code of a broker that turned the protocol version down: 1 in a 3.1.1 answer, 0x84 in an MQTT 5 one.
bool versionRefused(int code) {
    return code == 1 || code == MQTT_RC_UNSUPPORTED_PROTOCOL_VERSION;
}

std::string connackReason(int code, int protocol) {
    // MQTT 5 codes start at 0x80; below that the 3.1.1 ones
    if (protocol == 5 && code >= 0x80) {
        if (code == MQTT_RC_BAD_USERNAME_OR_PASSWORD || code == MQTT_RC_NOT_AUTHORIZED)
            return "the broker refused the login (" + std::string(mosquitto_reason_string(code)) + ")";
        return "the broker refused the connection: " + std::string(mosquitto_reason_string(code));
    }
    return connackReason(code);
}

bool refusedLogin(int code) {
    return code == 4 || code == 5 || code == MQTT_RC_BAD_USERNAME_OR_PASSWORD ||
           code == MQTT_RC_NOT_AUTHORIZED;
}

// A connection that failed on the socket (refused, no route) says so here; the library may report
// it as a TLS or protocol error, or not at all while a TLS handshake waits.
std::string socketError(mosquitto* mosq) {
    const int sock = mosquitto_socket(mosq);
    int error = 0;
    socklen_t len = sizeof error;
    if (sock < 0 || ::getsockopt(sock, SOL_SOCKET, SO_ERROR, &error, &len) != 0) return {};
    if (error != 0) return std::strerror(error);
    // a connect that failed at once left no error behind, only a socket that is hung up
    pollfd p{sock, POLLOUT, 0};
    if (::poll(&p, 1, 0) == 1 && (p.revents & POLLHUP)) return "the connection was refused or closed";
    return {};
}

struct SslFree {
    void operator()(SSL_CTX* c) const { SSL_CTX_free(c); }
    void operator()(SSL* s) const { SSL_free(s); }
};

// Why the broker's certificate is not trusted, found by a handshake of our own with the same CA
// and host (the client library only says that the handshake failed); empty when that one works
// or fails before the certificate is looked at.
std::string certificateProblem(const std::string& host, int port, const std::string& caFile) {
    std::unique_ptr<SSL_CTX, SslFree> ctx(SSL_CTX_new(TLS_client_method()));
    if (!ctx) return {};
    const bool loaded = caFile.empty() ? SSL_CTX_set_default_verify_paths(ctx.get())
                                       : SSL_CTX_load_verify_locations(ctx.get(), caFile.c_str(), nullptr);
    if (!loaded) return {};
    SSL_CTX_set_verify(ctx.get(), SSL_VERIFY_NONE, nullptr);  // the verdict is read afterwards
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return {};
    int sock = -1;
    for (addrinfo* a = found; a && sock < 0; a = a->ai_next) {
        sock = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (sock >= 0 && ::connect(sock, a->ai_addr, a->ai_addrlen) != 0) {
            ::close(sock);
            sock = -1;
        }
    }
    ::freeaddrinfo(found);
    if (sock < 0) return {};
    timeval limit{2, 0};
    ::setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(sock, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    std::unique_ptr<SSL, SslFree> ssl(SSL_new(ctx.get()));
    std::string problem;
    if (ssl) {
        X509_VERIFY_PARAM* param = SSL_get0_param(ssl.get());
        if (!X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str()))
            X509_VERIFY_PARAM_set1_host(param, host.c_str(), 0);
        SSL_set_tlsext_host_name(ssl.get(), host.c_str());
        SSL_set_fd(ssl.get(), sock);
        if (SSL_connect(ssl.get()) == 1) {
            const long verdict = SSL_get_verify_result(ssl.get());
            if (verdict == X509_V_ERR_HOSTNAME_MISMATCH || verdict == X509_V_ERR_IP_ADDRESS_MISMATCH)
                problem = "the broker's certificate is for another host name than " + host;
            else if (verdict == X509_V_ERR_CERT_HAS_EXPIRED)
                problem = "the broker's certificate has expired";
            else if (verdict == X509_V_ERR_CERT_NOT_YET_VALID)
                problem = "the broker's certificate is not valid yet";
            else if (verdict == X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY ||
                     verdict == X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT ||
                     verdict == X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN ||
                     verdict == X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE)
                problem = caFile.empty()
                              ? "the broker's certificate is signed by a CA the system does not trust"
                              : "the broker's certificate is not signed by the CA given";
            else if (verdict != X509_V_OK)
                problem = std::string("the broker's certificate is not accepted: ") +
                          X509_verify_cert_error_string(verdict);
        }
        ERR_clear_error();
    }
    ::close(sock);
    return problem;
}

struct AddressesFree {
    void operator()(addrinfo* a) const { ::freeaddrinfo(a); }
};

// The host's addresses for a stream connection, in the resolver's order; nothing with the reason
// when the name is not known.
std::unique_ptr<addrinfo, AddressesFree> resolve(const std::string& host, int port, std::string& reason) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_ADDRCONFIG;
    addrinfo* found = nullptr;
    const int rc = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (rc != 0 || !found) {
        reason = "the host name could not be resolved (" + std::string(::gai_strerror(rc)) + ")";
        return nullptr;
    }
    return std::unique_ptr<addrinfo, AddressesFree>(found);
}

std::string numericHost(const addrinfo& a) {
    char text[NI_MAXHOST] = {};
    if (::getnameinfo(a.ai_addr, a.ai_addrlen, text, sizeof text, nullptr, 0, NI_NUMERICHOST) != 0) return {};
    return text;
}

// Whether the address takes a TCP connection before the deadline; the reason when not. The
// connection is closed again at once: it only shows where the broker listens.
bool takesConnections(const addrinfo& a, Clock::time_point deadline, const std::function<bool()>& stopping,
                      std::string& reason) {
    const int sock = ::socket(a.ai_family, a.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a.ai_protocol);
    if (sock < 0) {
        reason = std::strerror(errno);
        return false;
    }
    bool taken = ::connect(sock, a.ai_addr, a.ai_addrlen) == 0;
    if (!taken && errno != EINPROGRESS) reason = std::strerror(errno);
    while (!taken && reason.empty()) {
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            reason = MqttTerms::noAnswer(MqttTerms::kConnectLimit);
            break;
        }
        if (stopping && stopping()) {
            reason = "stopped";
            break;
        }
        pollfd p{sock, POLLOUT, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(std::min<long long>(left, 100)));
        if (ready < 0 && errno != EINTR) {
            reason = std::strerror(errno);
        } else if (ready > 0) {
            int error = 0;
            socklen_t len = sizeof error;
            if (::getsockopt(sock, SOL_SOCKET, SO_ERROR, &error, &len) != 0) error = errno;
            if (error != 0)
                reason = std::strerror(error);
            else
                taken = true;
        }
    }
    ::close(sock);
    return taken;
}

void initLibrary() {
    static const int once = mosquitto_lib_init();
    (void)once;
}

}  // namespace

namespace MqttTerms {

std::string noAnswer(std::chrono::milliseconds limit) {
    return "no answer from the broker within " + std::to_string(limit.count() / 1000) + " s";
}

std::string errorReason(int rc) {
    if (rc == MOSQ_ERR_ERRNO) return std::strerror(errno);
    if (rc == MOSQ_ERR_TLS) return "the TLS handshake failed";
    if (rc == MOSQ_ERR_EAI) return "the host name could not be resolved";
    if (rc == MOSQ_ERR_PROTOCOL)
        return "the other side does not answer as an MQTT broker (is that the broker's port?)";
    const std::string text = mosquitto_strerror(rc);
    return text.rfind("Unknown", 0) == 0 ? "the MQTT client library failed (code " + std::to_string(rc) + ")"
                                         : text;
}

std::string lossReason(int rc) {
    if (rc == MOSQ_ERR_CONN_LOST || rc == MOSQ_ERR_NO_CONN) return "the broker closed the connection";
    if (rc == MOSQ_ERR_KEEPALIVE) return "the broker stopped answering";
    return errorReason(rc);
}

}  // namespace MqttTerms

std::string caFileProblem(const std::string& path) {
    const std::string file = "the CA file '" + path + "'";
    if (::access(path.c_str(), R_OK) != 0) return file + " cannot be read: " + std::strerror(errno);
    std::unique_ptr<SSL_CTX, SslFree> ctx(SSL_CTX_new(TLS_client_method()));
    if (!ctx) return {};
    ERR_clear_error();
    if (SSL_CTX_load_verify_locations(ctx.get(), path.c_str(), nullptr) == 1) return {};
    const unsigned long error = ERR_peek_last_error();
    const char* why = error ? ERR_reason_error_string(error) : nullptr;
    ERR_clear_error();
    return file + " holds no certificate in PEM form" + (why ? std::string(" (") + why + ")" : std::string());
}

MqttLink::MqttLink(LinkSettings settings, void* owner) : settings_(std::move(settings)), owner_(owner) {
    initLibrary();
}

MqttLink::~MqttLink() {
    close();
}

bool MqttLink::sessionPresent() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return sessionPresent_;
}

std::string MqttLink::takeNote() {
    std::string note;
    note.swap(note_);
    return note;
}

bool MqttLink::open(const Prepare& prepare, const std::function<bool()>& stopping, std::string& reason) {
    close();
    const int protocol = protocol_;
    bool retryOlder = false;
    if (attempt(prepare, stopping, reason, retryOlder)) return true;
    // the same broker in the older protocol, at once, with a client made for it
    if (retryOlder && protocol_ != protocol) return attempt(prepare, stopping, reason, retryOlder);
    return false;
}

bool MqttLink::attempt(const Prepare& prepare, const std::function<bool()>& stopping, std::string& reason,
                       bool& retryOlder) {
    close();
    loginRefused_ = false;
    const std::string& id = settings_.clientId;
    mosq_ = mosquitto_new(id.empty() ? nullptr : id.c_str(), !settings_.keepSession, this);
    if (!mosq_) {
        reason = "the MQTT client could not be made";
        return false;
    }
    mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION,
                         protocol_ == 5 ? MQTT_PROTOCOL_V5 : MQTT_PROTOCOL_V311);
    if (settings_.sendMaximum > 0) mosquitto_int_option(mosq_, MOSQ_OPT_SEND_MAXIMUM, settings_.sendMaximum);
    mosquitto_int_option(mosq_, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_connect_v5_callback_set(mosq_, &MqttLink::onConnect);
    if (prepare) prepare(mosq_);
    const BrokerUrl& url = settings_.url;
    const char* password = settings_.password.empty() ? nullptr : settings_.password.c_str();
    if (!url.user.empty() || password) mosquitto_username_pw_set(mosq_, url.user.c_str(), password);
    if (!settings_.willTopic.empty()) {
        mosquitto_property* will = nullptr;
        if (protocol_ == 5)
            mosquitto_property_add_string_pair(&will, MQTT_PROP_USER_PROPERTY, kSessionProperty, id.c_str());
        if (mosquitto_will_set_v5(mosq_, settings_.willTopic.c_str(),
                                  static_cast<int>(settings_.willPayload.size()),
                                  settings_.willPayload.data(), 1, true, will) != MOSQ_ERR_SUCCESS)
            mosquitto_property_free_all(&will);
    }
    if (url.tls) {
        // a file that cannot be used is said as such, before the library turns it into a bare
        // "invalid arguments" or a failed handshake
        const std::string& ca = settings_.caFile;
        reason = ca.empty() ? std::string() : caFileProblem(ca);
        if (!reason.empty()) return false;
        const int rc = ca.empty()
                           ? mosquitto_tls_set(mosq_, nullptr, "/etc/ssl/certs", nullptr, nullptr, nullptr)
                           : mosquitto_tls_set(mosq_, ca.c_str(), nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            reason = "the CA file '" + ca + "' cannot be used: " + MqttTerms::errorReason(rc);
            return false;
        }
    }
    const auto deadline = Clock::now() + MqttTerms::kConnectLimit;
    const auto addresses = resolve(url.host, url.port, reason);
    if (!addresses) return false;
    // the first address that takes a TCP connection is the broker's; the client library would
    // try only the first of them when it connects without waiting
    std::vector<std::pair<std::string, std::string>> refused;  // address, reason
    for (const addrinfo* a = addresses.get(); a; a = a->ai_next) {
        std::string why;
        if (!takesConnections(*a, deadline, stopping, why)) {
            refused.emplace_back(numericHost(*a), why);
            if (stopping && stopping()) return false;
            continue;
        }
        // TLS checks the certificate against the name given, so the library gets the name (and
        // finds the same address, those before it refusing at once)
        return connectTo(url.tls ? url.host : numericHost(*a), stopping, deadline, reason, retryOlder);
    }
    reason = refused.empty() ? "no address" : refused.front().second;
    for (const auto& [address, why] : refused) {
        if (why != refused.front().second) {
            reason.clear();
            for (const auto& [addr, w] : refused) reason += (reason.empty() ? "" : "; ") + addr + ": " + w;
            break;
        }
    }
    return false;
}

bool MqttLink::connectTo(const std::string& target, const std::function<bool()>& stopping,
                         Clock::time_point deadline, std::string& reason, bool& retryOlder) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        connackCode_ = -1;
        sessionPresent_ = false;
    }
    mosquitto_property* props = nullptr;
    if (protocol_ == 5 && settings_.keepSession)
        mosquitto_property_add_int32(&props, MQTT_PROP_SESSION_EXPIRY_INTERVAL,
                                     MqttTerms::kSessionExpirySeconds);
    int rc = mosquitto_connect_bind_v5(mosq_, target.c_str(), settings_.url.port,
                                       MqttTerms::kKeepAliveSeconds, nullptr, props);
    mosquitto_property_free_all(&props);
    auto refusedBy = [&](int code) {
        reason = connackReason(code, protocol_);
        loginRefused_ = refusedLogin(code);
        if (protocol_ == 5 && versionRefused(code)) {
            protocol_ = 4;
            retryOlder = true;
            note_ = "the broker speaks MQTT 3.1.1 only: it cannot say which readings it refuses";
        }
        return false;
    };
    while (rc == MOSQ_ERR_SUCCESS) {
        int code = -1;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            code = connackCode_;
        }
        if (code == 0) return true;
        if (code > 0) return refusedBy(code);
        if (stopping && stopping()) {
            reason = "stopped";
            return false;
        }
        reason = socketError(mosq_);
        if (!reason.empty()) return false;
        if (Clock::now() >= deadline) {
            reason = MqttTerms::noAnswer(MqttTerms::kConnectLimit);
            return false;
        }
        rc = mosquitto_loop(mosq_, 100, 1);
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (connackCode_ > 0) return refusedBy(connackCode_);
    }
    reason = socketError(mosq_);
    // the library gives up on a broker that took the connection but says nothing after the
    // keep-alive, which is the connect limit
    if (reason.empty() && rc == MOSQ_ERR_KEEPALIVE) reason = MqttTerms::noAnswer(MqttTerms::kConnectLimit);
    if (reason.empty()) reason = MqttTerms::errorReason(rc);
    if (rc == MOSQ_ERR_TLS) {
        const std::string cause =
            certificateProblem(settings_.url.host, settings_.url.port, settings_.caFile);
        if (!cause.empty()) reason += " (" + cause + ")";
    }
    return false;
}

void MqttLink::close(bool endSession) {
    if (!mosq_) return;
    if (endSession && settings_.keepSession && protocol_ == 5) {
        mosquitto_property* props = nullptr;
        mosquitto_property_add_int32(&props, MQTT_PROP_SESSION_EXPIRY_INTERVAL, 0);
        mosquitto_disconnect_v5(mosq_, 0, props);
        mosquitto_property_free_all(&props);
    } else {
        mosquitto_disconnect(mosq_);
    }
    mosquitto_loop(mosq_, 0, 1);
    mosquitto_destroy(mosq_);
    mosq_ = nullptr;
}

void MqttLink::onConnect(mosquitto*, void* self, int rc, int flags, const mosquitto_property*) {
    auto* link = static_cast<MqttLink*>(self);
    std::lock_guard<std::mutex> lock(link->mutex_);
    link->connackCode_ = rc;
    link->sessionPresent_ = rc == 0 && (flags & 1) != 0;
}

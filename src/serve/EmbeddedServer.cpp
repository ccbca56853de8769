#include "EmbeddedServer.h"

#include <array>
#include <atomic>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "ScpiParser.h"
#include "ServeRouter.h"
#include "ServeTexts.h"
#include "ServedChannels.h"

#ifndef DMMVIEW_VERSION
#define DMMVIEW_VERSION "0"
#endif

namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
namespace net = boost::asio;
using tcp = net::ip::tcp;
using error_code = boost::system::error_code;

namespace {

// State the sessions share with the server; they may outlive the server's other members while
// the event loop is torn down.
struct Shared {
    ServeLimits limits;
    std::size_t connections = 0;  // server thread only
    std::atomic<std::size_t> connectionsSeen{0};
    std::atomic<std::size_t> streamsSeen{0};
    std::atomic<uint64_t> accepted{0};
    std::atomic<uint64_t> refused{0};
    std::atomic<uint64_t> lost{0};
};

// One place among the clients, held by a session for as long as it lives.
class Slot {
public:
    explicit Slot(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {
        ++shared_->connections;
        ++shared_->accepted;
        shared_->connectionsSeen = shared_->connections;
    }
    ~Slot() {
        --shared_->connections;
        shared_->connectionsSeen = shared_->connections;
    }
    Slot(const Slot&) = delete;
    Slot& operator=(const Slot&) = delete;

private:
    std::shared_ptr<Shared> shared_;
};

class StreamSession : public std::enable_shared_from_this<StreamSession> {
public:
    StreamSession(tcp::socket socket, std::unique_ptr<Slot> slot, std::shared_ptr<Shared> shared, int channel)
        : ws_(std::move(socket)), slot_(std::move(slot)), shared_(std::move(shared)), channel_(channel) {}

    template <typename Request>
    void start(const Request& request, const std::string& protocol, std::function<void()> opened) {
        ws_.set_option(websocket::stream_base::timeout::suggested(beast::role_type::server));
        ws_.set_option(websocket::stream_base::decorator([protocol](websocket::response_type& res) {
            res.set(http::field::server, "dmmview");
            if (!protocol.empty()) res.set(http::field::sec_websocket_protocol, protocol);
        }));
        ws_.read_message_max(4096);
        ws_.auto_fragment(false);
        ws_.async_accept(request, [self = shared_from_this(), opened = std::move(opened)](error_code ec) {
            if (ec) return;
            self->open_ = true;
            opened();
            self->readLoop();
            self->write();
        });
    }

    bool open() const { return open_; }

    // `shared` is the message of `readings` for a client of every channel that lost none: written
    // once for all such clients.
    void offer(const std::vector<ServedReadingPtr>& readings,
               const std::shared_ptr<const std::string>& shared) {
        if (!open_) return;
        if (channel_ < 0 && lost_ == 0 && queue_.empty() && !writing_ && !readings.empty()) {
            send(shared);
            return;
        }
        for (const ServedReadingPtr& r : readings) {
            if (channel_ >= 0 && r->channel != channel_) continue;
            queue_.push_back(r);
        }
        while (queue_.size() > shared_->limits.streamQueue) {
            queue_.pop_front();
            ++lost_;
            ++shared_->lost;
        }
        if (!writing_) write();
    }

private:
    // What the client says is read and dropped; reading is what notices a close.
    void readLoop() {
        ws_.async_read(in_, [self = shared_from_this()](error_code ec, std::size_t) {
            if (ec) {
                self->open_ = false;
                return;
            }
            self->in_.consume(self->in_.size());
            self->readLoop();
        });
    }

    void write() {
        if (queue_.empty() || !open_) return;
        auto message = std::make_shared<const std::string>(
            ServeTexts::streamMessage(lost_, std::vector<ServedReadingPtr>(queue_.begin(), queue_.end())));
        queue_.clear();
        send(message);
    }

    void send(const std::shared_ptr<const std::string>& message) {
        out_ = message;
        writing_ = true;
        ws_.text(true);
        ws_.async_write(net::buffer(*out_), [self = shared_from_this()](error_code ec, std::size_t) {
            self->writing_ = false;
            if (ec) {
                self->open_ = false;
                return;
            }
            self->write();
        });
    }

    websocket::stream<beast::tcp_stream> ws_;
    std::unique_ptr<Slot> slot_;
    std::shared_ptr<Shared> shared_;
    const int channel_;
    beast::flat_buffer in_;
    std::deque<ServedReadingPtr> queue_;
    std::shared_ptr<const std::string> out_;
    uint64_t lost_ = 0;
    bool writing_ = false;
    bool open_ = false;
};

class ScpiSession : public std::enable_shared_from_this<ScpiSession> {
public:
    ScpiSession(tcp::socket socket, std::unique_ptr<Slot> slot, ServedChannels& channels,
                std::size_t lineLimit)
        : socket_(std::move(socket)),
          slot_(std::move(slot)),
          parser_(channels, DMMVIEW_VERSION),
          lineLimit_(lineLimit) {}

    void read() {
        socket_.async_read_some(net::buffer(chunk_),
                                [self = shared_from_this()](error_code ec, std::size_t n) {
                                    if (ec) return;
                                    self->take(n);
                                });
    }

private:
    void take(std::size_t n) {
        std::string answers;
        for (std::size_t i = 0; i < n; ++i) {
            const char c = chunk_[i];
            if (c == '\n') {
                if (!discarding_) {
                    if (!line_.empty() && line_.back() == '\r') line_.pop_back();
                    answers += parser_.execute(line_);
                }
                line_.clear();
                discarding_ = false;
            } else if (!discarding_) {
                line_ += c;
                if (line_.size() > lineLimit_) {
                    // the rest of the line is thrown away unread
                    parser_.inputOverrun();
                    line_.clear();
                    discarding_ = true;
                }
            }
        }
        if (answers.empty()) return read();
        // nothing more is read until the answers are out: a client that does not read them
        // stops being heard, not the server's memory growing
        out_ = std::move(answers);
        net::async_write(socket_, net::buffer(out_), [self = shared_from_this()](error_code ec, std::size_t) {
            if (!ec) self->read();
        });
    }

    tcp::socket socket_;
    std::unique_ptr<Slot> slot_;
    ScpiParser parser_;
    const std::size_t lineLimit_;
    std::array<char, 2048> chunk_{};
    std::string line_;
    std::string out_;
    bool discarding_ = false;
};

template <typename Request>
HttpAsk askOf(const Request& req) {
    HttpAsk ask;
    ask.method = std::string(req.method_string());
    ask.target = std::string(req.target());
    ask.host = std::string(req[http::field::host]);
    ask.authorization = std::string(req[http::field::authorization]);
    ask.protocols = std::string(req[http::field::sec_websocket_protocol]);
    ask.upgrade = websocket::is_upgrade(req);
    ask.headerCount = std::size_t(std::distance(req.begin(), req.end()));
    return ask;
}

// The status of a request that could not be read whole.
int readFailure(error_code ec) {
    if (ec == http::error::header_limit || ec == http::error::buffer_overflow) return 431;
    if (ec == http::error::body_limit) return 413;
    return 400;
}

void limitParser(http::request_parser<http::empty_body>& parser, const ServeLimits& limits) {
    parser.header_limit(static_cast<uint32_t>(limits.headerBytes));
    parser.body_limit(0);
}

}  // namespace

int answerRequestBytes(const ServeRouter& router, std::string_view bytes, const ServeLimits& limits) {
    http::request_parser<http::empty_body> parser;
    limitParser(parser, limits);
    error_code ec;
    while (!bytes.empty() && !parser.is_done()) {
        const std::size_t used = parser.put(net::buffer(bytes.data(), bytes.size()), ec);
        if (ec == http::error::need_more) return 0;
        if (ec) return readFailure(ec);
        if (used == 0) return 0;
        bytes.remove_prefix(used);
    }
    if (!parser.is_done()) return 0;
    return router.answer(askOf(parser.get())).status;
}

struct EmbeddedServer::Impl {
    Impl(ServedChannels& c, const ServeSettings& s)
        : channels(c),
          settings(s),
          shared(std::make_shared<Shared>()),
          router(c, ServeRouter::Settings{s.token, !s.http || s.http->loopback(), s.limits.headerCount, 1000},
                 servedPageFiles()),
          flushTimer(io) {
        shared->limits = s.limits;
    }

    ~Impl() {
        channels.setWake({});
        io.stop();
        if (thread.joinable()) thread.join();
        // the sessions still waiting in the loop go with it
        httpAcceptor.reset();
        scpiAcceptor.reset();
        scpiShared.reset();
    }

    bool listen(std::optional<tcp::acceptor>& acceptor, const ServeEndpoint& e, const char* option,
                std::string& error) {
        error_code ec;
        tcp::resolver resolver(io);
        const auto found = resolver.resolve(e.host, std::to_string(e.port), tcp::resolver::passive, ec);
        if (ec || found.empty()) {
            error = std::string(option) + " " + e.text() + ": " + (ec ? ec.message() : "no such address");
            return false;
        }
        acceptor.emplace(io);
        const tcp::endpoint at = found.begin()->endpoint();
        acceptor->open(at.protocol(), ec);
        if (!ec) acceptor->set_option(net::socket_base::reuse_address(true), ec);
        if (!ec) acceptor->bind(at, ec);
        if (!ec) acceptor->listen(net::socket_base::max_listen_connections, ec);
        if (ec) {
            error = std::string(option) + " " + e.text() + ": " + ec.message();
            return false;
        }
        return true;
    }

    // A client over the bound hears why, as much as fits in its socket at once, and is let go.
    void refuse(tcp::socket& socket, bool http) {
        ++shared->refused;
        error_code ec;
        if (http) {
            static const char kBusy[] =
                "HTTP/1.1 503 Service Unavailable\r\nContent-Type: text/plain\r\nContent-Length: 22\r\n"
                "Connection: close\r\nRetry-After: 5\r\n\r\ntoo many clients, sorry";
            socket.non_blocking(true, ec);
            socket.write_some(net::buffer(kBusy, sizeof kBusy - 2), ec);
        }
        socket.shutdown(tcp::socket::shutdown_both, ec);
        socket.close(ec);
    }

    void accept(tcp::acceptor& acceptor, bool http) {
        acceptor.async_accept([this, &acceptor, http](error_code ec, tcp::socket socket) {
            if (ec == net::error::operation_aborted) return;
            if (ec) {
                // out of descriptors, for example: try again shortly rather than spin
                auto pause = std::make_shared<net::steady_timer>(io, std::chrono::milliseconds(100));
                pause->async_wait([this, pause, &acceptor, http](error_code) { accept(acceptor, http); });
                return;
            }
            if (http) {
                if (shared->connections >= shared->limits.clients)
                    refuse(socket, true);
                else
                    serveHttp(std::move(socket));
            } else {
                if (scpiCount() >= shared->limits.scpiClients)
                    refuse(socket, false);
                else
                    serveScpi(std::move(socket));
            }
            accept(acceptor, http);
        });
    }

    std::size_t scpiCount() const { return scpiShared ? scpiShared->connections : 0; }

    void serveScpi(tcp::socket socket) {
        error_code ec;
        socket.set_option(tcp::no_delay(true), ec);
        auto session = std::make_shared<ScpiSession>(std::move(socket), std::make_unique<Slot>(scpiShared),
                                                     channels, shared->limits.scpiLine);
        session->read();
    }

    class HttpSession;
    void serveHttp(tcp::socket socket);

    // New readings are handed out a little later, with those that follow them meanwhile.
    void wake() {
        if (flushArmed) return;
        flushArmed = true;
        flushTimer.expires_after(settings.limits.flushEvery);
        flushTimer.async_wait([this](error_code ec) {
            flushArmed = false;
            if (ec) return;
            uint64_t lost = 0;
            const std::vector<ServedReadingPtr> fresh = channels.takeNew(&lost);
            shared->lost += lost;
            const auto message = std::make_shared<const std::string>(ServeTexts::streamMessage(0, fresh));
            std::size_t live = 0;
            for (auto it = streams.begin(); it != streams.end();) {
                auto s = it->lock();
                if (!s || !s->open()) {
                    it = streams.erase(it);
                    continue;
                }
                s->offer(fresh, message);
                ++live;
                ++it;
            }
            shared->streamsSeen = live;
        });
    }

    net::io_context io{1};
    ServedChannels& channels;
    const ServeSettings settings;
    std::shared_ptr<Shared> shared;
    std::shared_ptr<Shared> scpiShared;
    ServeRouter router;
    std::optional<tcp::acceptor> httpAcceptor;
    std::optional<tcp::acceptor> scpiAcceptor;
    net::steady_timer flushTimer;
    bool flushArmed = false;
    std::vector<std::weak_ptr<StreamSession>> streams;
    std::string pageAddress;
    std::string scpiAddress;
    std::thread thread;
};

class EmbeddedServer::Impl::HttpSession : public std::enable_shared_from_this<HttpSession> {
public:
    HttpSession(tcp::socket socket, Impl& server)
        : stream_(std::move(socket)),
          slot_(std::make_unique<Slot>(server.shared)),
          server_(server),
          limits_(server.shared->limits),
          buffer_(limits_.headerBytes + 1024) {}

    void read() {
        parser_.emplace();
        limitParser(*parser_, limits_);
        stream_.expires_after(limits_.requestTime);
        http::async_read(stream_, buffer_, *parser_,
                         [self = shared_from_this()](error_code ec, std::size_t) { self->onRequest(ec); });
    }

private:
    void onRequest(error_code ec) {
        if (ec == http::error::end_of_stream || ec == beast::error::timeout || ec == net::error::eof ||
            ec == net::error::connection_reset || ec == net::error::operation_aborted) {
            return close();
        }
        if (ec) {
            const int status = readFailure(ec);
            return fail(status, status == 431   ? "Request Header Fields Too Large"
                                : status == 413 ? "Payload Too Large: requests here carry no body"
                                                : "Bad Request");
        }
        const auto& req = parser_->get();
        HttpAnswer answer = server_.router.answer(askOf(req));
        if (answer.stream) {
            stream_.expires_never();
            request_ = parser_->release();
            auto session = std::make_shared<StreamSession>(stream_.release_socket(), std::move(slot_),
                                                           server_.shared, answer.streamChannel);
            Impl& server = server_;
            std::weak_ptr<StreamSession> weak = session;
            session->start(request_, answer.protocol, [&server, weak] { server.streams.push_back(weak); });
            return;
        }
        respond(std::move(answer), req.keep_alive(), req.method() == http::verb::head, req.version());
    }

    void fail(int status, const std::string& text) {
        HttpAnswer a;
        a.status = status;
        a.contentType = "text/plain; charset=utf-8";
        a.body = text + "\n";
        respond(std::move(a), false, false, 11);
    }

    void respond(HttpAnswer answer, bool keepAlive, bool head, unsigned version) {
        auto res = std::make_shared<http::response<http::string_body>>(
            static_cast<http::status>(answer.status), version);
        res->set(http::field::server, "dmmview");
        res->set(http::field::content_type, answer.contentType);
        res->set(http::field::cache_control, "no-store");
        res->set("X-Content-Type-Options", "nosniff");
        for (const auto& [name, value] : answer.headers) res->set(name, value);
        const bool keep = keepAlive && answer.status < 400;
        res->keep_alive(keep);
        res->content_length(answer.body.size());
        if (!head) res->body() = std::move(answer.body);
        stream_.expires_after(limits_.requestTime);
        http::async_write(stream_, *res, [self = shared_from_this(), res, keep](error_code ec, std::size_t) {
            if (ec || !keep) return self->close();
            self->read();
        });
    }

    void close() {
        error_code ec;
        stream_.socket().shutdown(tcp::socket::shutdown_send, ec);
        stream_.close();
    }

    beast::tcp_stream stream_;
    std::unique_ptr<Slot> slot_;
    Impl& server_;
    const ServeLimits& limits_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::empty_body>> parser_;
    http::request<http::empty_body> request_;
};

void EmbeddedServer::Impl::serveHttp(tcp::socket socket) {
    std::make_shared<HttpSession>(std::move(socket), *this)->read();
}

EmbeddedServer::EmbeddedServer(std::unique_ptr<Impl> impl) : d_(std::move(impl)) {}

EmbeddedServer::~EmbeddedServer() = default;

std::unique_ptr<EmbeddedServer> EmbeddedServer::start(ServedChannels& channels, const ServeSettings& settings,
                                                      std::string& error) {
    auto d = std::make_unique<Impl>(channels, settings);
    d->scpiShared = std::make_shared<Shared>();
    d->scpiShared->limits = settings.limits;
    if (settings.http) {
        if (!d->listen(d->httpAcceptor, *settings.http, "--serve", error)) return nullptr;
        ServeEndpoint at = *settings.http;
        at.port = d->httpAcceptor->local_endpoint().port();
        d->pageAddress = "http://" + at.text() + "/";
        d->accept(*d->httpAcceptor, true);
    }
    if (settings.scpi) {
        if (!d->listen(d->scpiAcceptor, *settings.scpi, "--scpi", error)) return nullptr;
        ServeEndpoint at = *settings.scpi;
        at.port = d->scpiAcceptor->local_endpoint().port();
        d->scpiAddress = at.text();
        d->accept(*d->scpiAcceptor, false);
    }
    Impl* impl = d.get();
    channels.setWake([impl] { net::post(impl->io, [impl] { impl->wake(); }); });
    d->thread = std::thread([impl] {
        for (;;) {
            try {
                impl->io.run();
                return;
            } catch (const std::exception&) {
                // a handler's failure costs that client, not the server
            }
        }
    });
    return std::unique_ptr<EmbeddedServer>(new EmbeddedServer(std::move(d)));
}

std::string EmbeddedServer::pageAddress() const {
    return d_->pageAddress;
}
std::string EmbeddedServer::scpiAddress() const {
    return d_->scpiAddress;
}

EmbeddedServer::Counts EmbeddedServer::counts() const {
    Counts c;
    c.connections = d_->shared->connectionsSeen + d_->scpiShared->connectionsSeen;
    c.streams = d_->shared->streamsSeen;
    c.accepted = d_->shared->accepted + d_->scpiShared->accepted;
    c.refused = d_->shared->refused + d_->scpiShared->refused;
    c.lost = d_->shared->lost;
    return c;
}

#include "ServeRouter.h"

#include <arpa/inet.h>

#include <QFile>
#include <cctype>
#include <charconv>

#include "JsonText.h"
#include "ServeTexts.h"

namespace {

HttpAnswer plain(int status, const std::string& text) {
    HttpAnswer a;
    a.status = status;
    a.contentType = "text/plain; charset=utf-8";
    a.body = text + "\n";
    return a;
}

HttpAnswer json(std::string body, int status = 200) {
    HttpAnswer a;
    a.status = status;
    a.contentType = "application/json";
    a.body = std::move(body);
    return a;
}

HttpAnswer jsonError(int status, const std::string& why) {
    std::string body = "{\"error\":";
    JsonText::appendString(body, why);
    return json(body + "}", status);
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

template <typename T>
bool wholeNumber(const std::string& text, T& value) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && !text.empty();
}

}  // namespace

ServeRouter::ServeRouter(ServedChannels& channels, Settings settings, std::map<std::string, PageFile> files)
    : channels_(channels),
      settings_(std::move(settings)),
      files_(std::move(files)),
      tokenProtocol_(settings_.token.empty() ? std::string() : tokenProtocol(settings_.token)) {}

bool ServeRouter::loopbackHost(std::string_view host) {
    std::string name;
    if (!host.empty() && host.front() == '[') {
        const auto close = host.find(']');
        if (close == std::string_view::npos) return false;
        name = std::string(host.substr(1, close - 1));
        const std::string_view rest = host.substr(close + 1);
        if (!rest.empty() && rest.front() != ':') return false;
    } else {
        const auto colon = host.find(':');
        name = std::string(host.substr(0, colon));
    }
    if (equalsIgnoringCase(name, "localhost")) return true;
    in_addr v4{};
    if (inet_pton(AF_INET, name.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    return inet_pton(AF_INET6, name.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

bool ServeRouter::bearerMatches(std::string_view authorization, const std::string& token) {
    constexpr std::string_view scheme = "Bearer ";
    if (token.empty() || authorization.size() != scheme.size() + token.size() ||
        !equalsIgnoringCase(authorization.substr(0, scheme.size()), scheme))
        return false;
    unsigned char differ = 0;
    for (std::size_t i = 0; i < token.size(); ++i)
        differ |= static_cast<unsigned char>(authorization[scheme.size() + i] ^ token[i]);
    return differ == 0;
}

bool ServeRouter::percentDecode(std::string_view text, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out += ' ';
        } else if (text[i] == '%') {
            if (i + 2 >= text.size()) return false;
            unsigned value = 0;
            if (!std::isxdigit(static_cast<unsigned char>(text[i + 1])) ||
                !std::isxdigit(static_cast<unsigned char>(text[i + 2])))
                return false;
            const auto [end, ec] = std::from_chars(text.data() + i + 1, text.data() + i + 3, value, 16);
            if (ec != std::errc() || end != text.data() + i + 3) return false;
            out += static_cast<char>(value);
            i += 2;
        } else {
            out += text[i];
        }
    }
    return true;
}

std::string ServeRouter::tokenProtocol(const std::string& token) {
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string out = "bearer.";
    uint32_t bits = 0;
    int held = 0;
    for (const char c : token) {
        bits = (bits << 8) | static_cast<unsigned char>(c);
        held += 8;
        while (held >= 6) {
            held -= 6;
            out += alphabet[(bits >> held) & 63];
        }
    }
    if (held > 0) out += alphabet[(bits << (6 - held)) & 63];
    return out;
}

HttpAnswer ServeRouter::answer(const HttpAsk& ask) const {
    if (ask.headerCount > settings_.maxHeaders) return plain(431, "Request Header Fields Too Large");
    if (ask.method != "GET" && ask.method != "HEAD") {
        HttpAnswer a = plain(405, "Method Not Allowed: everything here is read-only");
        a.headers.emplace_back("Allow", "GET, HEAD");
        return a;
    }
    // a page of another site that a name server points at this computer must not read it
    if (settings_.loopbackOnly && !loopbackHost(ask.host))
        return plain(403, "Forbidden: the Host must name this computer");
    if (ask.target.empty() || ask.target.front() != '/') return plain(400, "Bad Request");
    const auto mark = ask.target.find('?');
    std::string path;
    if (!percentDecode(std::string_view(ask.target).substr(0, mark), path)) return plain(400, "Bad Request");
    std::map<std::string, std::string> query;
    if (mark != std::string::npos) {
        std::string_view rest = std::string_view(ask.target).substr(mark + 1);
        while (!rest.empty()) {
            const auto amp = rest.find('&');
            const std::string_view pair = rest.substr(0, amp);
            const auto eq = pair.find('=');
            std::string key;
            std::string value;
            if (!percentDecode(pair.substr(0, eq), key) ||
                (eq != std::string_view::npos && !percentDecode(pair.substr(eq + 1), value)))
                return plain(400, "Bad Request");
            if (query.size() >= 16) return plain(400, "Bad Request: too many parameters");
            query[key] = value;
            rest = amp == std::string_view::npos ? std::string_view() : rest.substr(amp + 1);
        }
    }
    return routed(path, query, ask);
}

HttpAnswer ServeRouter::routed(const std::string& path, const std::map<std::string, std::string>& query,
                               const HttpAsk& ask) const {
    const std::string file = path == "/" ? std::string("/index.html") : path;
    if (const auto f = files_.find(file); f != files_.end()) {
        HttpAnswer a;
        a.contentType = f->second.contentType;
        a.body = f->second.bytes;
        a.headers.emplace_back("Content-Security-Policy",
                               "default-src 'self'; connect-src 'self' ws: wss:; img-src 'self' data:");
        return a;
    }
    const bool api = path.rfind("/api/", 0) == 0;
    if (!api && path != "/metrics") return plain(404, "Not Found");

    if (!settings_.token.empty()) {
        bool allowed = bearerMatches(ask.authorization, settings_.token);
        if (!allowed && ask.upgrade) {
            // a browser names the token as a subprotocol; the answer names it back
            std::string_view list = ask.protocols;
            while (!list.empty() && !allowed) {
                const auto comma = list.find(',');
                std::string_view p = list.substr(0, comma);
                while (!p.empty() && p.front() == ' ') p.remove_prefix(1);
                while (!p.empty() && p.back() == ' ') p.remove_suffix(1);
                allowed = p == tokenProtocol_;
                list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
            }
        }
        if (!allowed) {
            HttpAnswer a = plain(401, "Unauthorized: a bearer token is needed");
            a.headers.emplace_back("WWW-Authenticate", "Bearer realm=\"dmmview\"");
            return a;
        }
    }

    if (path == "/metrics") {
        HttpAnswer a;
        a.contentType = "text/plain; version=0.0.4; charset=utf-8";
        a.body = ServeTexts::metrics(channels_.snapshot());
        return a;
    }
    if (path == "/api/v1/stream") {
        int channel = -1;
        if (const auto c = query.find("channel"); c != query.end()) {
            const auto id = channels_.find(c->second);
            if (!id) return jsonError(404, "no channel named " + c->second);
            channel = *id;
        }
        if (!ask.upgrade) return jsonError(426, "the stream is a WebSocket");
        HttpAnswer a;
        a.stream = true;
        a.streamChannel = channel;
        if (!settings_.token.empty() && !bearerMatches(ask.authorization, settings_.token))
            a.protocol = tokenProtocol_;
        return a;
    }
    if (path == "/api/v1/channels") return json(ServeTexts::channels(channels_.snapshot()));
    constexpr std::string_view prefix = "/api/v1/channels/";
    if (path.rfind(prefix, 0) == 0) {
        std::string name = path.substr(prefix.size());
        constexpr std::string_view readingsTail = "/readings";
        const bool readingsAsked =
            name.size() > readingsTail.size() &&
            name.compare(name.size() - readingsTail.size(), readingsTail.size(), readingsTail) == 0;
        if (readingsAsked) return readings(name.substr(0, name.size() - readingsTail.size()), query);
        const auto id = channels_.find(name);
        const auto channel = id ? channels_.channel(*id) : std::nullopt;
        if (!channel) return jsonError(404, "no channel named " + name);
        std::string body;
        ServeTexts::appendChannel(body, *channel);
        return json(body);
    }
    return jsonError(404, "no such resource; see /api/v1/channels");
}

HttpAnswer ServeRouter::readings(const std::string& name,
                                 const std::map<std::string, std::string>& query) const {
    const auto id = channels_.find(name);
    const auto channel = id ? channels_.channel(*id) : std::nullopt;
    if (!channel) return jsonError(404, "no channel named " + name);
    int64_t sinceMs = 0;
    uint64_t after = 0;
    std::size_t limit = std::min<std::size_t>(500, settings_.maxPage);
    if (const auto q = query.find("since"); q != query.end() && !wholeNumber(q->second, sinceMs))
        return jsonError(400, "since takes milliseconds since 1970 UTC");
    if (const auto q = query.find("after"); q != query.end() && !wholeNumber(q->second, after))
        return jsonError(400, "after takes the seq of the last reading seen");
    if (const auto q = query.find("limit");
        q != query.end() && (!wholeNumber(q->second, limit) || limit < 1 || limit > settings_.maxPage))
        return jsonError(400, "limit takes a number from 1 to " + std::to_string(settings_.maxPage));
    // milliseconds to microseconds without overflow for any number given
    const int64_t sinceUs = sinceMs > INT64_MAX / 1000   ? INT64_MAX
                            : sinceMs < INT64_MIN / 1000 ? INT64_MIN
                                                         : sinceMs * 1000;
    return json(ServeTexts::readingsPage(*channel, channels_.history(*id, sinceUs, after, limit), limit));
}

// The resources of a static library are registered by hand.
static void registerPageResources() {
    Q_INIT_RESOURCE(serve);
}

std::map<std::string, PageFile> servedPageFiles() {
    registerPageResources();
    std::map<std::string, PageFile> files;
    const std::pair<const char*, const char*> kinds[] = {{"/index.html", "text/html; charset=utf-8"},
                                                         {"/app.js", "text/javascript; charset=utf-8"},
                                                         {"/style.css", "text/css; charset=utf-8"}};
    for (const auto& [name, type] : kinds) {
        QFile f(QStringLiteral(":/serve/page") + QLatin1String(name));
        if (!f.open(QIODevice::ReadOnly)) continue;
        const QByteArray bytes = f.readAll();
        files[name] = {type, std::string(bytes.constData(), std::size_t(bytes.size()))};
    }
    return files;
}

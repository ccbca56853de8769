#include "BrokerUrl.h"

#include <cctype>
#include <cstdint>

namespace {

// Room kept in a topic for what follows the prefix ("/<client>/reading" with a long name).
constexpr std::size_t kTopicRoom = 1024;

// The length of the UTF-8 sequence starting at s[i] and its code point; 0 when it is not one
// (a stray continuation byte, an overlong form, a surrogate, beyond U+10FFFF, cut short).
std::size_t utf8Sequence(const std::string& s, std::size_t i, uint32_t& code) {
    const auto b = static_cast<unsigned char>(s[i]);
    std::size_t n = 0;
    uint32_t least = 0;
    if (b < 0x80) {
        code = b;
        return 1;
    } else if ((b & 0xE0) == 0xC0) {
        n = 2, code = b & 0x1F, least = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
        n = 3, code = b & 0x0F, least = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
        n = 4, code = b & 0x07, least = 0x10000;
    } else {
        return 0;
    }
    if (i + n > s.size()) return 0;
    for (std::size_t k = 1; k < n; ++k) {
        const auto c = static_cast<unsigned char>(s[i + k]);
        if ((c & 0xC0) != 0x80) return 0;
        code = code << 6 | (c & 0x3F);
    }
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return n;
}

}  // namespace

std::string topicNameError(const std::string& topic, std::size_t room) {
    if (topic.size() + room > kMaxTopicBytes)
        return "is " + std::to_string(topic.size()) + " bytes long; a topic holds at most " +
               std::to_string(kMaxTopicBytes) + " with what follows it";
    if (!topic.empty() && topic[0] == '$')
        return "may not start with $ (the broker keeps such topics for itself)";
    for (std::size_t i = 0; i < topic.size();) {
        uint32_t code = 0;
        const std::size_t n = utf8Sequence(topic, i, code);
        if (n == 0) return "is not UTF-8 text (byte " + std::to_string(i + 1) + ")";
        if (code < 0x20 || (code >= 0x7F && code <= 0x9F))
            return "may not hold control characters (byte " + std::to_string(i + 1) + ")";
        if (code == '+' || code == '#') return "may not hold + or #";
        i += n;
    }
    return {};
}

std::string BrokerUrl::display() const {
    std::string s = tls ? "mqtts://" : "mqtt://";
    if (!user.empty()) s += user + "@";
    // an IPv6 address keeps its brackets so the port stays readable
    s += host.find(':') != std::string::npos ? "[" + host + "]" : host;
    return s + ":" + std::to_string(port);
}

std::optional<BrokerUrl> parseBrokerUrl(const std::string& text, std::string& error) {
    BrokerUrl url;
    std::string rest;
    if (text.rfind("mqtt://", 0) == 0) {
        rest = text.substr(7);
    } else if (text.rfind("mqtts://", 0) == 0) {
        url.tls = true;
        url.port = 8883;
        rest = text.substr(8);
    } else {
        error = "--publish needs mqtt://[USER@]HOST[:PORT]/PREFIX or mqtts://...";
        return std::nullopt;
    }
    const auto slash = rest.find('/');
    std::string authority = rest.substr(0, slash);
    if (slash != std::string::npos) {
        std::string prefix = rest.substr(slash + 1);
        while (!prefix.empty() && prefix.back() == '/') prefix.pop_back();
        if (!prefix.empty()) {
            const std::string why = topicNameError(prefix, kTopicRoom);
            if (!why.empty()) {
                error = "--publish: the topic prefix " + why;
                return std::nullopt;
            }
            url.prefix = prefix;
        }
    }
    const auto at = authority.rfind('@');
    if (at != std::string::npos) {
        url.user = authority.substr(0, at);
        authority = authority.substr(at + 1);
        if (url.user.find(':') != std::string::npos) {
            error = "--publish: the password is read from DMMVIEW_MQTT_PASSWORD, not from the URL";
            return std::nullopt;
        }
    }
    std::string portText;
    if (!authority.empty() && authority[0] == '[') {
        const auto close = authority.find(']');
        if (close == std::string::npos) {
            error = "--publish: unclosed [ in the host";
            return std::nullopt;
        }
        url.host = authority.substr(1, close - 1);
        if (close + 1 < authority.size()) {
            if (authority[close + 1] != ':') {
                error = "--publish: after the ] of the host only :PORT may follow";
                return std::nullopt;
            }
            portText = authority.substr(close + 2);
            if (portText.empty()) portText = "-";
        }
    } else {
        const auto colon = authority.find(':');
        url.host = authority.substr(0, colon);
        if (colon != std::string::npos) portText = authority.substr(colon + 1);
        if (colon != std::string::npos && portText.empty()) portText = "-";
    }
    if (url.host.empty()) {
        error = "--publish: the URL names no broker host";
        return std::nullopt;
    }
    if (!portText.empty()) {
        int port = 0;
        for (const char c : portText) {
            port = std::isdigit(static_cast<unsigned char>(c)) && port <= 65535 ? port * 10 + (c - '0') : -1;
            if (port < 0) break;
        }
        if (port < 1 || port > 65535) {
            error = "--publish: the port must be a number from 1 to 65535";
            return std::nullopt;
        }
        url.port = port;
    }
    return url;
}

std::string topicLevel(const std::string& name) {
    std::string s = name;
    for (char& c : s) {
        if (c == '/' || c == '+' || c == '#' || c == '\0') c = '_';
    }
    return s.empty() ? "_" : s;
}

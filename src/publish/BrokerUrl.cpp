#include "BrokerUrl.h"

#include <cctype>

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
        if (prefix.find_first_of("+#") != std::string::npos) {
            error = "--publish: the topic prefix '" + prefix + "' may not hold + or #";
            return std::nullopt;
        }
        if (!prefix.empty()) url.prefix = prefix;
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
        if (close + 1 < authority.size() && authority[close + 1] == ':') portText = authority.substr(close + 2);
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

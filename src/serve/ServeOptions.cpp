#include "ServeOptions.h"

#include <arpa/inet.h>

#include <cerrno>
#include <cstring>
#include <fstream>

namespace {

std::optional<uint16_t> portNumber(const std::string& text) {
    if (text.empty() || text.size() > 5) return std::nullopt;
    uint32_t port = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        port = port * 10 + uint32_t(c - '0');
    }
    if (port > 65535) return std::nullopt;
    return uint16_t(port);
}

}  // namespace

bool ServeEndpoint::loopback() const {
    if (host == "localhost") return true;
    in_addr v4{};
    if (inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    if (inet_pton(AF_INET6, host.c_str(), &v6) == 1) return IN6_IS_ADDR_LOOPBACK(&v6);
    return false;
}

std::string ServeEndpoint::text() const {
    const bool v6 = host.find(':') != std::string::npos;
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::optional<ServeEndpoint> parseServeEndpoint(const std::string& text, const std::string& option,
                                                std::string& error) {
    ServeEndpoint e;
    std::string port = text;
    if (!text.empty() && text[0] == '[') {
        const auto close = text.find(']');
        if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':') {
            error = option + " needs [ADDRESS]:PORT for an IPv6 address, for example [::1]:8080";
            return std::nullopt;
        }
        e.host = text.substr(1, close - 1);
        port = text.substr(close + 2);
        in6_addr v6{};
        if (inet_pton(AF_INET6, e.host.c_str(), &v6) != 1) {
            error = option + ": '" + e.host + "' is not an IPv6 address";
            return std::nullopt;
        }
    } else if (const auto colon = text.rfind(':'); colon != std::string::npos) {
        e.host = text.substr(0, colon);
        port = text.substr(colon + 1);
        if (e.host.empty() || e.host.find(':') != std::string::npos) {
            error = option + " needs [HOST:]PORT, for example 8080 or 0.0.0.0:8080 ([::1]:8080 for IPv6)";
            return std::nullopt;
        }
    }
    const auto number = portNumber(port);
    if (!number) {
        error = option + ": '" + port + "' is not a port number from 0 to 65535";
        return std::nullopt;
    }
    e.port = *number;
    return e;
}

bool readServeOption(const std::vector<std::string>& args, std::size_t& i, ServeRequest& request,
                     std::string& error) {
    const std::string& a = args[i];
    if (a != "--serve" && a != "--scpi" && a != "--serve-token") return false;
    if (i + 1 >= args.size()) {
        error = a + " needs a value";
        return true;
    }
    const std::string& value = args[++i];
    if (a == "--serve-token") {
        request.tokenFile = value;
        return true;
    }
    auto endpoint = parseServeEndpoint(value, a, error);
    if (endpoint) (a == "--serve" ? request.http : request.scpi) = endpoint;
    return true;
}

void checkServeOptions(const ServeRequest& request, std::string& error) {
    if (!request.tokenFile.empty() && !request.http)
        error = "--serve-token needs --serve [HOST:]PORT";
    else if (request.http && !request.http->loopback() && request.tokenFile.empty())
        error = "--serve " + request.http->text() +
                " is reachable from other computers: give --serve-token FILE, or serve on 127.0.0.1";
}

std::string readServeToken(const std::string& path, std::string& error) {
    std::ifstream in(path);
    if (!in) {
        error = "--serve-token: cannot read '" + path + "': " + std::strerror(errno);
        return {};
    }
    std::string line;
    std::getline(in, line);
    const auto first = line.find_first_not_of(" \t\r");
    const auto last = line.find_last_not_of(" \t\r");
    const std::string token =
        first == std::string::npos ? std::string() : line.substr(first, last - first + 1);
    for (const char c : token) {
        // the token travels in a header: printable ASCII without blanks
        if (c < 0x21 || c > 0x7e) {
            error = "--serve-token: '" + path + "' holds characters other than printable ASCII";
            return {};
        }
    }
    if (token.size() < 8) error = "--serve-token: '" + path + "' holds no token of 8 characters or more";
    return error.empty() ? token : std::string();
}

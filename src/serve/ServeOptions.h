#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Where a server listens: a host (an address or a name) and a port, 0 for one the system picks.
struct ServeEndpoint {
    std::string host = "127.0.0.1";
    uint16_t port = 0;

    // Whether only this computer can reach it: 127.0.0.0/8, ::1 or "localhost".
    bool loopback() const;
    // "127.0.0.1:8080", "[::1]:8080"
    std::string text() const;
};

// "[HOST:]PORT", "[V6ADDRESS]:PORT"; nothing, with `error` saying why, for anything else.
std::optional<ServeEndpoint> parseServeEndpoint(const std::string& text, const std::string& option,
                                                std::string& error);

// The options that start the embedded servers.
struct ServeRequest {
    std::optional<ServeEndpoint> http;  // --serve [HOST:]PORT: the page, the API and the metrics
    std::optional<ServeEndpoint> scpi;  // --scpi [HOST:]PORT: the instrument protocol
    std::string tokenFile;              // --serve-token FILE: the bearer token, read at start

    bool any() const { return http || scpi; }
};

// Reads the option at args[i] (and its value) when it is one of --serve, --scpi, --serve-token;
// false when it is another. A bad value sets `error`.
bool readServeOption(const std::vector<std::string>& args, std::size_t& i, ServeRequest& request,
                     std::string& error);

// The rules between the options: a token needs --serve, and a page on an address other computers
// reach needs a token. Sets `error` (one line) when they are broken.
void checkServeOptions(const ServeRequest& request, std::string& error);

// The token in `path`: its first line without surrounding blanks. Empty, with `error` set, when the
// file cannot be read or holds no token.
std::string readServeToken(const std::string& path, std::string& error);

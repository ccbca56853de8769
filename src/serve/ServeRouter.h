#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ServedChannels.h"

// What the router needs of one HTTP request, taken from the parsed message.
struct HttpAsk {
    std::string method;
    std::string target;         // "/api/v1/channels?x=1"
    std::string host;           // the Host header
    std::string authorization;  // the Authorization header
    std::string protocols;      // the Sec-WebSocket-Protocol header
    bool upgrade = false;       // a WebSocket upgrade request
    std::size_t headerCount = 0;
};

// The answer to one request: a response, or (stream) the go-ahead for the WebSocket stream.
struct HttpAnswer {
    int status = 200;
    std::string contentType;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;

    bool stream = false;
    int streamChannel = -1;  // -1: every channel
    std::string protocol;    // the subprotocol to name in the handshake's answer
};

// A file of the page: its type and bytes.
struct PageFile {
    std::string contentType;
    std::string bytes;
};

// Every rule of the server that needs no socket: which requests are let in (method, Host, token,
// header count), where they go, and what they get. The page's files need no token: they carry
// no readings, and the page asks for the token when the API wants one.
class ServeRouter {
public:
    struct Settings {
        std::string token;         // empty: none asked for
        bool loopbackOnly = true;  // the Host header must name this computer
        std::size_t maxHeaders = 64;
        std::size_t maxPage = 1000;  // readings per page of the history
    };

    ServeRouter(ServedChannels& channels, Settings settings, std::map<std::string, PageFile> files);

    HttpAnswer answer(const HttpAsk& ask) const;

    // Whether `host` (a Host header, with or without its port) names this computer.
    static bool loopbackHost(std::string_view host);
    // Whether `authorization` is "Bearer TOKEN" with this token; the comparison takes as long
    // for any wrong token of the same length.
    static bool bearerMatches(std::string_view authorization, const std::string& token);
    // `text` with %XX and '+' decoded; nothing when an escape is broken.
    static bool percentDecode(std::string_view text, std::string& out);
    // The WebSocket subprotocol that carries the token for a browser, which cannot set headers
    // on a WebSocket: "bearer." and the token in base64url.
    static std::string tokenProtocol(const std::string& token);

private:
    HttpAnswer routed(const std::string& path, const std::map<std::string, std::string>& query,
                      const HttpAsk& ask) const;
    HttpAnswer readings(const std::string& name, const std::map<std::string, std::string>& query) const;

    ServedChannels& channels_;
    const Settings settings_;
    const std::map<std::string, PageFile> files_;
    const std::string tokenProtocol_;
};

// The page's files from the program's resources.
std::map<std::string, PageFile> servedPageFiles();

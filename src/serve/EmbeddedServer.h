#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "ServeOptions.h"

class ServedChannels;
class ServeRouter;

// What one client may take of the server. A client over a bound is refused with a status (or,
// on the instrument port, its line is cut off), never let to grow the server's memory.
struct ServeLimits {
    std::size_t clients = 128;       // HTTP and WebSocket connections at once
    std::size_t headerBytes = 8192;  // request line and headers together
    std::size_t headerCount = 64;
    std::size_t streamQueue = 1024;  // readings waiting for one WebSocket client; older ones are lost
    std::chrono::milliseconds requestTime{10000};  // to send a whole request, or to send the next one
    std::size_t scpiClients = 16;
    std::size_t scpiLine = 4096;               // bytes of one instrument command line
    std::chrono::milliseconds flushEvery{40};  // new readings are handed to the stream clients this often
};

struct ServeSettings {
    std::optional<ServeEndpoint> http;
    std::optional<ServeEndpoint> scpi;
    std::string token;  // empty: no token asked for (loopback only)
    ServeLimits limits;
};

// The page, the API, the stream, the metrics and the instrument port, all on one thread of their
// own with its own event loop: the front end that feeds the channels only appends to them, and
// nothing a client does (reading slowly, not at all, sending garbage) reaches back into it.
//
// Threads: start() and the destructor run on the owner's thread; everything else (accepting,
// parsing, answering, writing) on the server's thread. The channels are shared through their
// own lock; the server learns of new readings by a wake-up the channels call on the feeding
// thread, and hands them out at most every `flushEvery`, all that came meanwhile in one
// message per client.
class EmbeddedServer {
public:
    // Listening on the endpoints of `settings`; nothing, with `error` set (one line), when an
    // address cannot be used.
    static std::unique_ptr<EmbeddedServer> start(ServedChannels& channels, const ServeSettings& settings,
                                                 std::string& error);
    ~EmbeddedServer();
    EmbeddedServer(const EmbeddedServer&) = delete;
    EmbeddedServer& operator=(const EmbeddedServer&) = delete;

    // "http://127.0.0.1:8080/" (the port the system picked for 0); empty without --serve.
    std::string pageAddress() const;
    // "127.0.0.1:5025"; empty without --scpi.
    std::string scpiAddress() const;

    struct Counts {
        std::size_t connections = 0;  // HTTP, stream and instrument clients now
        std::size_t streams = 0;      // WebSocket clients now
        uint64_t accepted = 0;        // connections let in so far
        uint64_t refused = 0;         // connections refused for the client bound
        uint64_t lost = 0;            // readings stream clients lost for reading too slowly
    };
    Counts counts() const;

private:
    struct Impl;
    explicit EmbeddedServer(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> d_;
};

// The status the server answers `bytes` with when a client sends them as its request: parsed as
// from a socket, within the same limits, then routed. 0 when the bytes end before the request does.
int answerRequestBytes(const ServeRouter& router, std::string_view bytes, const ServeLimits& limits);

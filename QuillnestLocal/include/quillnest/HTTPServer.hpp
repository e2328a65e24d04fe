#pragma once

#include "quillnest/Api.hpp"

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quillnest {

/// How an answer leaves: whole, or (to exercise a client's error paths) trickling or cut off halfway.
enum class Delivery { whole, slow, dropped };

struct Outgoing {
    Reply reply;
    Delivery delivery = Delivery::whole;
    /// For a slow answer: the time over which its body trickles out.
    std::chrono::milliseconds spread{0};
};

/// What one client may cost. Every limit is answered as soon as it is crossed, without reading further.
struct HTTPLimits {
    std::size_t requestLineBytes = 8 * 1024; // 414 beyond
    std::size_t headerBytes = 16 * 1024;     // the whole header section; 431 beyond
    std::size_t bodyBytes = 1024 * 1024;     // announced or streamed; 413 beyond
    /// The whole header phase: from the connection (or the previous answer on it) to the blank line.
    std::chrono::milliseconds headerTimeout{10'000};
    /// The whole body, from the end of the header section.
    std::chrono::milliseconds bodyTimeout{30'000};
    /// A connection on which nothing moves is closed after this many seconds.
    unsigned idleSeconds = 5;
    unsigned connectionsPerAddress = 256;
    unsigned connections = 4096;
    /// Threads that only move bytes (each an epoll loop) and threads that run the handler. Four
    /// workers leave two free while two passwords hash; with 8, 200 keep-alive clients got 10-30% fewer
    /// answers a second on two cores (more switching), with 2 one slow handler could stall the API.
    unsigned ioThreads = 2;
    unsigned workers = 4;
};

/// An HTTP/1.1 server on libmicrohttpd: a few epoll threads hold every connection, and a separate pool
/// runs the handler, so neither slow peers nor slow handlers hold up other clients. Requests whose
/// framing is malformed or ambiguous are refused with 400 and the connection closed; a Host that is
/// not one of `allowedHosts` (any port) gets 421. Thread-safe; the handler runs on several threads.
class HTTPServer {
public:
    using Handler = std::function<Outgoing(const Request&)>;

    /// `host` is the listen address; port 0 picks a free one. When `host` is a wildcard address, any
    /// IP literal is accepted as Host besides `allowedHosts`.
    HTTPServer(std::string host, int port, std::vector<std::string> allowedHosts, HTTPLimits limits,
               Handler handler);
    ~HTTPServer();
    HTTPServer(const HTTPServer&) = delete;
    HTTPServer& operator=(const HTTPServer&) = delete;

    /// Binds and serves; throws std::runtime_error when the address cannot be bound.
    void start();
    /// Answers what is running, then closes every connection; safe to call twice.
    void stop();
    int port() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

/// Whether a Host header value names one of `allowed` (case-insensitive, any port), or any IP literal
/// when `anyAddress`. Malformed values never match.
bool hostAllowed(std::string_view host, const std::vector<std::string>& allowed, bool anyAddress);

} // namespace quillnest

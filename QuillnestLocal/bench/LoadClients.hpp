// Raw-socket clients for the transport benchmarks: many keep-alive clients on one epoll thread,
// connections held open slowly or idly, and a header flood. Every wait has a deadline.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace quillnest::bench {

using Clock = std::chrono::steady_clock;

/// A TCP connection to 127.0.0.1:port from `source` (any 127.x address); -1 when refused. A
/// non-blocking one may still be connecting.
int connectFrom(const std::string& source, int port, bool blocking = true);

struct LoadResult {
    std::vector<double> latenciesMs;  // of every answered request
    std::vector<double> unansweredMs; // how long the requests never answered had waited at the end
    std::size_t failures = 0;         // closed connections, non-200 answers and requests never answered
    double seconds = 0;
    double connectSeconds = 0; // until every first connection was open

    /// Over answered and unanswered requests alike: one never answered is at least as slow as its wait.
    double percentile(double p) const;
    std::size_t over(double ms) const;
    double perSecond() const { return seconds > 0 ? static_cast<double>(latenciesMs.size()) / seconds : 0; }
};

/// `clients` keep-alive connections each sending `request` again as soon as the previous answer is in,
/// for `duration`; requests still open then get up to 5 s more.
LoadResult keepAliveLoad(int port, const std::string& request, int clients,
                         std::chrono::milliseconds duration);

/// Connections held open from several loopback addresses: the slow ones have sent part of a header
/// and add one byte whenever trickle() is called; the idle ones have sent nothing.
class HeldConnections {
public:
    HeldConnections(int port, int slow, int idle, int perAddress);
    ~HeldConnections();
    HeldConnections(const HeldConnections&) = delete;
    HeldConnections& operator=(const HeldConnections&) = delete;

    void trickle();
    std::size_t open() const { return slow_.size() + idle_.size(); }

private:
    std::vector<int> slow_;
    std::vector<int> idle_;
};

/// One request with its answer's status (0: none before the deadline or the connection closed) and time.
struct Exchange {
    int status = 0;
    double ms = 0;
};
Exchange exchange(int port, const std::string& request, std::chrono::milliseconds limit);

/// A request whose header section grows to `bytes`, sent until the server answers or closes.
struct Flood {
    int status = 0; // the answer's status, 0 when the connection closed without one
    double ms = 0;  // from the first byte sent to the answer or the close
    std::size_t sent = 0;
};
Flood headerFlood(int port, std::size_t bytes, std::chrono::milliseconds limit);

/// The process's resident set, in bytes.
std::size_t residentBytes();

} // namespace quillnest::bench

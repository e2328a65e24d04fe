// The HTTP transport against hostile, slow and idle peers, over raw sockets.
#include "TestService.hpp"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>

namespace quillnest::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

/// A TCP connection from a chosen loopback address, read and written with deadlines.
class Raw {
public:
    explicit Raw(int port, const std::string& source = "127.0.0.1") {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        ::inet_pton(AF_INET, source.c_str(), &local.sin_addr);
        sockaddr_in remote{};
        remote.sin_family = AF_INET;
        remote.sin_port = htons(static_cast<std::uint16_t>(port));
        ::inet_pton(AF_INET, "127.0.0.1", &remote.sin_addr);
        connected_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 &&
                     ::connect(fd_, reinterpret_cast<sockaddr*>(&remote), sizeof remote) == 0;
    }
    ~Raw() { ::close(fd_); }
    Raw(const Raw&) = delete;
    Raw& operator=(const Raw&) = delete;

    /// Sends what the peer takes before `limit`; false once it stops taking bytes.
    bool send(std::string_view bytes, std::chrono::milliseconds limit = 2s) {
        const auto deadline = Clock::now() + limit;
        for (bool first = true; !bytes.empty() && (first || Clock::now() < deadline); first = false) {
            pollfd p{fd_, POLLOUT, 0};
            if (::poll(&p, 1, first ? 0 : 50) <= 0)
                continue;
            auto n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n < 0 && errno != EAGAIN)
                return false;
            if (n > 0) {
                sent += static_cast<std::size_t>(n);
                bytes.remove_prefix(static_cast<std::size_t>(n));
            }
        }
        return bytes.empty();
    }

    /// The status of the first final answer, or 0 when none came before `limit`.
    int status(std::chrono::milliseconds limit = 2s) {
        const auto deadline = Clock::now() + limit;
        while (true) {
            auto start = received.find("HTTP/1.1 ");
            while (start != std::string::npos && received.compare(start + 9, 1, "1") == 0)
                start = received.find("HTTP/1.1 ", start + 1); // skip "100 Continue"
            if (start != std::string::npos && received.find("\r\n\r\n", start) != std::string::npos)
                return std::stoi(received.substr(start + 9, 3));
            if (!readSome(deadline))
                return 0;
        }
    }

    /// Whether the peer closes the connection before `limit` (what it sent meanwhile is kept).
    bool closes(std::chrono::milliseconds limit = 2s) {
        const auto deadline = Clock::now() + limit;
        while (readSome(deadline)) {
        }
        return closed_;
    }

    bool connected() const { return connected_; }
    std::string received;
    std::size_t sent = 0;

private:
    bool readSome(Clock::time_point deadline) {
        if (closed_)
            return false;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(std::max<long>(0, left.count()))) <= 0)
            return false;
        char chunk[16384];
        auto n = ::recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT);
        if (n < 0 && errno == EAGAIN)
            return true;
        if (n <= 0) {
            closed_ = true;
            return false;
        }
        received.append(chunk, static_cast<std::size_t>(n));
        return true;
    }

    int fd_ = -1;
    bool connected_ = false;
    bool closed_ = false;
};

std::string hexLength(std::size_t n) {
    char text[32];
    std::snprintf(text, sizeof text, "%zx", n);
    return text;
}

std::size_t residentBytes() {
    std::FILE* f = std::fopen("/proc/self/statm", "r");
    long pages = 0;
    long resident = 0;
    if (f) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return static_cast<std::size_t>(resident) * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

class TransportTest : public ServiceFixture {
protected:
    void SetUp() override {
        startService([](ServiceOptions& o) { o.publicUrl = "https://monitor.example.com"; });
        token = account("ana@example.com", "right-password");
    }
    std::string host() const { return "Host: 127.0.0.1:" + std::to_string(service->port()) + "\r\n"; }
    std::string auth() const { return "Authorization: Token " + token + "\r\n"; }
    std::string get(const std::string& path, const std::string& headers) const {
        return "GET " + path + " HTTP/1.1\r\n" + headers + "\r\n";
    }
    std::int64_t endpointCount() {
        auto count = client->get("/api/endpoints", token)["count"].asInteger();
        return count ? *count : -1;
    }
    std::string token;
};

TEST_F(TransportTest, EveryRequestIsAnsweredAtOnceWithItsStatus) {
    const std::string body = R"({"name":"smuggled","endpoint_url":"http://a.example/"})";
    const std::string post = "POST /api/endpoints HTTP/1.1\r\n" + host() + auth();
    std::string lines;
    for (int i = 0; i < 40; ++i)
        lines += "X-Line-" + std::to_string(i) + ": " + std::string(1000, 'a') + "\r\n";
    std::string chunked = post + "Transfer-Encoding: chunked\r\n\r\n";
    for (int i = 0; i < 2; ++i)
        chunked += "100000\r\n" + std::string(0x100000, ' ') + "\r\n";
    struct Case {
        const char* what;
        std::string request;
        int status;
        bool closes;
    } cases[] = {
        // Malformed or conflicting framing: refused and closed, nothing read past the headers.
        {"body over the limit by Content-Length", post + "Content-Length: 10000000000\r\n\r\n", 413, true},
        {"Content-Length of 2^64", post + "Content-Length: 18446744073709551616\r\n\r\n", 413, true},
        {"negative Content-Length", post + "Content-Length: -1\r\n\r\n" + body, 400, true},
        {"unknown transfer coding", post + "Transfer-Encoding: xchunked\r\n\r\n" + body, 400, true},
        {"chunked not alone", post + "Transfer-Encoding: chunked, identity\r\n\r\n" + body, 400, true},
        {"chunked with a Content-Length",
         post + "Transfer-Encoding: chunked\r\nContent-Length: 5\r\n\r\n0\r\n\r\n", 400, true},
        {"space before the colon",
         post + "Content-Length : " + std::to_string(body.size()) + "\r\n\r\n" + body, 400, true},
        {"100-continue for a body over the limit",
         post + "Expect: 100-continue\r\nContent-Length: 2097152\r\n\r\n", 413, true},
        {"an expectation not understood", post + "Expect: teapot\r\nContent-Length: 2\r\n\r\n{}", 417, true},
        {"body over the limit while streaming", chunked, 413, true},
        {"no Host", "GET /api/me HTTP/1.1\r\n" + auth() + "\r\n", 400, true},
        {"two Hosts", get("/api/me", host() + host() + auth()), 400, true},
        {"two Authorizations", get("/api/me", host() + auth() + auth()), 400, true},
        {"two Content-Lengths",
         get("/api/me", host() + auth() + "Content-Length: 0\r\nContent-Length: 2\r\n") + "{}", 400, true},
        {"header name with a space", get("/api/me", host() + auth() + "Bad Name: x\r\n"), 400, true},
        {"header line without a colon", get("/api/me", host() + auth() + "NoColon\r\n"), 400, true},
        {"request line over 8 KiB", get("/" + std::string(9000, 'a'), host()), 414, true},
        {"one header over 16 KiB", get("/api/me", host() + "X-Big: " + std::string(17000, 'a') + "\r\n"), 431,
         true},
        {"header section over 16 KiB", get("/api/me", host() + lines), 431, true},
        {"HTTP/2.0 as text", "GET /api/me HTTP/2.0\r\n" + host() + "\r\n", 505, true},
        // Host: only the listen address, localhost and the public URL's host, on any port.
        {"another host", get("/api/me", "Host: evil.example\r\n" + auth()), 421, true},
        {"a name ending in ours", get("/api/me", "Host: 127.0.0.1.evil.example\r\n" + auth()), 421, true},
        {"an address not listened on", get("/api/me", "Host: [::1]:80\r\n" + auth()), 421, true},
        {"a port that is no number", get("/api/me", "Host: localhost:http\r\n" + auth()), 421, true},
        {"localhost", get("/api/me", "Host: LOCALHOST.:1\r\n" + auth()), 200, false},
        {"the public URL's host", get("/api/me", "Host: monitor.example.com\r\n" + auth()), 200, false},
        {"HTTP/1.0 without Host", "GET /api/me HTTP/1.0\r\n" + auth() + "\r\n", 200, true},
        // Well-formed, if unusual.
        {"POST without a body exchanges the token",
         "POST /api/tokens/exchange HTTP/1.1\r\n" + host() +
             "Authorization: " + basic("ana@example.com:right-password") + "\r\n\r\n",
         200, false},
        {"a chunked body",
         post + "Transfer-Encoding: chunked\r\n\r\n10\r\n" + body.substr(0, 16) + "\r\n" +
             hexLength(body.size() - 16) + "\r\n" + body.substr(16) + "\r\n0\r\n\r\n",
         201, false},
        {"100-continue within the limit",
         post + "Expect: 100-continue\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body,
         201, false},
    };
    for (const auto& c : cases) {
        Raw raw(service->port());
        const auto started = Clock::now();
        raw.send(c.request);
        EXPECT_EQ(raw.status(), c.status) << c.what << ": " << raw.received.substr(0, 200);
        EXPECT_LT(Clock::now() - started, 2s) << c.what;
        EXPECT_EQ(raw.closes(c.closes ? 2s : 200ms), c.closes) << c.what;
        if (c.status >= 400) {
            EXPECT_EQ(raw.received.find("100 Continue"), std::string::npos) << c.what;
        }
    }
    EXPECT_EQ(client->get("/api/me", token).status, 200);
    EXPECT_EQ(endpointCount(), 2) << "only the two well-formed creations landed";
}

TEST_F(TransportTest, SlowAndIdlePeersNeitherHoldUpOthersNorStay) {
    service.reset();
    startService([](ServiceOptions& o) {
        o.http.headerTimeout = 1500ms;
        o.http.idleSeconds = 3;
    });
    token = account("bo@example.com");
    std::vector<std::unique_ptr<Raw>> slow;
    std::vector<std::unique_ptr<Raw>> idle;
    for (int i = 0; i < 60; ++i) {
        slow.push_back(std::make_unique<Raw>(service->port(), "127.0.0.2"));
        slow.back()->send("GET /api/me HTTP/1.1\r\n" + host() + "X-Slow: ");
        idle.push_back(std::make_unique<Raw>(service->port(), "127.0.0.3"));
    }
    for (int i = 0; i < 5; ++i) { // idle after an answer: a keep-alive connection left open
        idle.push_back(std::make_unique<Raw>(service->port(), "127.0.0.3"));
        idle.back()->send(get("/api/me", host() + auth()));
        EXPECT_EQ(idle.back()->status(), 200);
    }
    {
        Raw fresh(service->port());
        fresh.send(get("/api/me", host() + auth()));
        EXPECT_EQ(fresh.status(2s), 200) << "a well-behaved client is answered while the others hang";
    }
    // The slow ones send a byte every 100 ms, well within any per-read time-out: only a deadline on the
    // whole header phase ends them. The idle ones go when the idle time runs out.
    const auto deadline = Clock::now() + 8s;
    auto open = [](auto& all) {
        return std::count_if(all.begin(), all.end(), [](auto& r) { return !r->closes(0ms); });
    };
    while (Clock::now() < deadline && open(slow) + open(idle) > 0) {
        for (auto& r : slow)
            r->send("a", 0ms);
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_EQ(open(slow), 0);
    EXPECT_EQ(open(idle), 0);
}

TEST_F(TransportTest, ConnectionsPerAddressAreCapped) {
    service.reset();
    startService([](ServiceOptions& o) { o.http.connectionsPerAddress = 4; });
    std::vector<std::unique_ptr<Raw>> held;
    for (int i = 0; i < 4; ++i)
        held.push_back(std::make_unique<Raw>(service->port(), "127.0.0.4"));
    Raw extra(service->port(), "127.0.0.4");
    EXPECT_TRUE(extra.closes()) << "the fifth connection from one address is closed";
    EXPECT_EQ(client->get("/api/me", account("bo@example.com")).status, 200) << "other addresses are served";
    held.clear();
    EXPECT_TRUE(eventually([&] {
        Raw again(service->port(), "127.0.0.4");
        again.send(get("/api/me", host()));
        return again.status(500ms) == 401;
    })) << "closed connections free their places";
}

TEST_F(TransportTest, AHeaderFloodIsRefusedEarlyWithMemoryBounded) {
    std::string lines;
    for (int i = 0; i < 64; ++i)
        lines += "X-Flood-" + std::to_string(i) + ": " + std::string(1000, 'a') + "\r\n";
    const auto before = residentBytes();
    Raw flood(service->port());
    flood.send("GET /api/me HTTP/1.1\r\n" + host());
    for (std::size_t total = 0; total < (64u << 20) && flood.send(lines, 200ms); total += lines.size()) {
    }
    EXPECT_EQ(flood.status(), 431);
    EXPECT_TRUE(flood.closes());
    EXPECT_LT(flood.sent, 16u << 20) << "the service stopped reading long before 64 MiB";
    EXPECT_LT(static_cast<long>(residentBytes()) - static_cast<long>(before), 16L << 20);
    EXPECT_EQ(client->get("/api/me", token).status, 200);
}

} // namespace
} // namespace quillnest::testing

#include "LoadClients.hpp"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <poll.h>
#include <string_view>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace quillnest::bench {

namespace {

double millisSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

bool sendAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        auto n = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

/// Status and total length of the first complete answer in `buffer`, or nothing yet.
struct Parsed {
    int status;
    std::size_t length;
};
std::optional<Parsed> completeAnswer(const std::string& buffer) {
    auto end = buffer.find("\r\n\r\n");
    if (end == std::string::npos || buffer.size() < 12)
        return std::nullopt;
    int status = 0;
    std::from_chars(buffer.data() + 9, buffer.data() + 12, status);
    std::size_t length = 0;
    for (std::size_t line = buffer.find("\r\n"); line < end; line = buffer.find("\r\n", line + 2)) {
        constexpr std::string_view name = "content-length:";
        if (line + 2 + name.size() > end)
            break;
        bool match = true;
        for (std::size_t i = 0; i < name.size() && match; ++i)
            match = std::tolower(static_cast<unsigned char>(buffer[line + 2 + i])) == name[i];
        if (match) {
            auto value = line + 2 + name.size();
            while (buffer[value] == ' ')
                ++value;
            std::from_chars(buffer.data() + value, buffer.data() + end, length);
        }
    }
    if (buffer.size() < end + 4 + length)
        return std::nullopt;
    return Parsed{status, end + 4 + length};
}

} // namespace

int connectFrom(const std::string& source, int port, bool blocking) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (blocking ? 0 : SOCK_NONBLOCK), 0);
    if (fd < 0)
        return -1;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    ::inet_pton(AF_INET, source.c_str(), &local.sin_addr);
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(static_cast<std::uint16_t>(port));
    ::inet_pton(AF_INET, "127.0.0.1", &remote.sin_addr);
    int yes = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        (::connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0 &&
         (blocking || errno != EINPROGRESS))) {
        ::close(fd);
        return -1;
    }
    return fd;
}

double LoadResult::percentile(double p) const {
    if (latenciesMs.empty() && unansweredMs.empty())
        return NAN;
    auto sorted = latenciesMs;
    sorted.insert(sorted.end(), unansweredMs.begin(), unansweredMs.end());
    std::sort(sorted.begin(), sorted.end());
    auto index = static_cast<std::size_t>(std::ceil(p / 100.0 * static_cast<double>(sorted.size()))) - 1;
    return sorted[std::min(index, sorted.size() - 1)];
}

std::size_t LoadResult::over(double ms) const {
    auto above = [ms](double l) { return l > ms; };
    return static_cast<std::size_t>(std::count_if(latenciesMs.begin(), latenciesMs.end(), above) +
                                    std::count_if(unansweredMs.begin(), unansweredMs.end(), above));
}

LoadResult keepAliveLoad(int port, const std::string& request, int clients,
                         std::chrono::milliseconds duration) {
    struct Client {
        int fd = -1;
        std::string buffer;
        Clock::time_point sentAt;
        bool connecting = false;
        bool waiting = false;
    };
    LoadResult result;
    std::vector<Client> all(static_cast<std::size_t>(clients));
    int poller = ::epoll_create1(EPOLL_CLOEXEC);
    // Connections open without blocking: a server slow to accept delays its own clients, not the others.
    // A request's time starts when its connection is begun.
    auto start = [&](std::size_t i) {
        auto& c = all[i];
        c.buffer.clear();
        c.sentAt = Clock::now();
        c.waiting = true;
        if (c.fd >= 0) {
            if (!sendAll(c.fd, request))
                c.waiting = false;
            return;
        }
        c.fd = connectFrom("127.0.0.1", port, false);
        c.connecting = true;
        epoll_event event{EPOLLIN | EPOLLOUT, {}};
        event.data.u64 = i;
        ::epoll_ctl(poller, EPOLL_CTL_ADD, c.fd, &event);
    };
    auto drop = [&](std::size_t i) {
        auto& c = all[i];
        ::close(c.fd);
        c.fd = -1;
        c.waiting = false;
        ++result.failures;
    };
    const auto begin = Clock::now();
    const auto stopSending = begin + duration;
    const auto giveUp = stopSending + std::chrono::seconds(5);
    for (std::size_t i = 0; i < all.size(); ++i)
        start(i);
    std::vector<epoll_event> events(256);
    char chunk[65536];
    while (Clock::now() < giveUp) {
        bool anyWaiting = std::any_of(all.begin(), all.end(), [](const Client& c) { return c.waiting; });
        if (!anyWaiting && Clock::now() >= stopSending)
            break;
        int n = ::epoll_wait(poller, events.data(), static_cast<int>(events.size()), 50);
        for (int e = 0; e < n; ++e) {
            const auto& event = events[static_cast<std::size_t>(e)];
            auto i = event.data.u64;
            auto& c = all[i];
            if (c.connecting) {
                int error = 0;
                socklen_t length = sizeof error;
                ::getsockopt(c.fd, SOL_SOCKET, SO_ERROR, &error, &length);
                if (error != 0 || !(event.events & EPOLLOUT)) {
                    drop(i);
                    continue;
                }
                c.connecting = false;
                if (result.connectSeconds == 0 &&
                    std::none_of(all.begin(), all.end(), [](const Client& x) { return x.connecting; }))
                    result.connectSeconds = std::chrono::duration<double>(Clock::now() - begin).count();
                epoll_event readable{EPOLLIN, {}};
                readable.data.u64 = i;
                ::epoll_ctl(poller, EPOLL_CTL_MOD, c.fd, &readable);
                if (!sendAll(c.fd, request))
                    drop(i);
                continue;
            }
            auto got = ::recv(c.fd, chunk, sizeof chunk, 0);
            if (got < 0 && errno == EAGAIN)
                continue;
            if (got <= 0) {
                drop(i);
                if (Clock::now() < stopSending)
                    start(i);
                continue;
            }
            c.buffer.append(chunk, static_cast<std::size_t>(got));
            auto answer = completeAnswer(c.buffer);
            if (!answer)
                continue;
            c.waiting = false;
            if (answer->status == 200)
                result.latenciesMs.push_back(millisSince(c.sentAt));
            else
                ++result.failures;
            if (Clock::now() < stopSending)
                start(i);
        }
    }
    result.seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    for (auto& c : all) {
        if (c.waiting) {
            ++result.failures;
            result.unansweredMs.push_back(millisSince(c.sentAt));
        }
        if (c.fd >= 0)
            ::close(c.fd);
    }
    ::close(poller);
    return result;
}

HeldConnections::HeldConnections(int port, int slow, int idle, int perAddress) {
    int address = 2; // 127.0.0.1 stays free for the well-behaved client
    auto open = [&](int count, std::vector<int>& into, const std::string& firstBytes) {
        for (int i = 0; i < count; ++i) {
            if (i > 0 && i % perAddress == 0)
                ++address;
            int fd = connectFrom("127.0.0." + std::to_string(address), port);
            if (fd < 0)
                continue;
            if (!firstBytes.empty())
                sendAll(fd, firstBytes);
            into.push_back(fd);
        }
        ++address;
    };
    open(slow, slow_, "GET /api/me HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: ");
    open(idle, idle_, {});
}

HeldConnections::~HeldConnections() {
    for (int fd : slow_)
        ::close(fd);
    for (int fd : idle_)
        ::close(fd);
}

void HeldConnections::trickle() {
    for (int fd : slow_)
        (void)::send(fd, "a", 1, MSG_NOSIGNAL | MSG_DONTWAIT);
}

Exchange exchange(int port, const std::string& request, std::chrono::milliseconds limit) {
    Exchange result;
    const auto started = Clock::now();
    int fd = connectFrom("127.0.0.1", port);
    if (fd < 0)
        return result;
    std::string buffer;
    if (sendAll(fd, request)) {
        char chunk[16384];
        while (true) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(started + limit - Clock::now());
            pollfd p{fd, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0)
                break;
            auto got = ::recv(fd, chunk, sizeof chunk, 0);
            if (got <= 0)
                break;
            buffer.append(chunk, static_cast<std::size_t>(got));
            if (auto answer = completeAnswer(buffer)) {
                result.status = answer->status;
                break;
            }
        }
    }
    result.ms = millisSince(started);
    ::close(fd);
    return result;
}

Flood headerFlood(int port, std::size_t bytes, std::chrono::milliseconds limit) {
    Flood result;
    int fd = connectFrom("127.0.0.1", port);
    if (fd < 0)
        return result;
    const auto started = Clock::now();
    const std::string head = "GET /api/me HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    // Many ordinary-looking lines of 1 KiB: a server that keeps every header keeps them all.
    std::string filler;
    for (int line = 0; line < 64; ++line)
        filler += "X-Flood-" + std::to_string(line) + ": " + std::string(1000, 'a') + "\r\n";
    std::string answer;
    char chunk[4096];
    bool writing = true;
    ::send(fd, head.data(), head.size(), MSG_NOSIGNAL);
    while (Clock::now() - started < limit) {
        pollfd p{fd, static_cast<short>(POLLIN | (writing ? POLLOUT : 0)), 0};
        if (::poll(&p, 1, 100) <= 0)
            continue;
        if (p.revents & (POLLIN | POLLHUP | POLLERR)) {
            auto got = ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
            if (got <= 0 && !(got < 0 && errno == EAGAIN))
                break;
            if (got > 0) {
                answer.append(chunk, static_cast<std::size_t>(got));
                if (answer.find("\r\n") != std::string::npos)
                    break;
            }
        }
        if (writing && (p.revents & POLLOUT)) {
            const auto offset = result.sent % filler.size();
            auto want = std::min(filler.size() - offset, bytes - result.sent);
            auto n = ::send(fd, filler.data() + offset, want, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n < 0 && errno != EAGAIN)
                writing = false;
            if (n > 0)
                result.sent += static_cast<std::size_t>(n);
            if (result.sent >= bytes) {
                ::send(fd, "\r\n\r\n", 4, MSG_NOSIGNAL);
                writing = false;
            }
        }
    }
    result.ms = millisSince(started);
    if (answer.size() >= 12)
        std::from_chars(answer.data() + 9, answer.data() + 12, result.status);
    ::close(fd);
    return result;
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

} // namespace quillnest::bench

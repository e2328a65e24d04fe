#include "quillnest/HTTPServer.hpp"

#include <microhttpd.h>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cctype>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <netdb.h>
#include <optional>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unordered_map>

namespace quillnest {

namespace {

using Clock = std::chrono::steady_clock;

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

bool isToken(std::string_view name) {
    constexpr std::string_view extra = "!#$%&'*+-.^_`|~";
    return !name.empty() && std::all_of(name.begin(), name.end(), [&](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || extra.find(c) != std::string_view::npos;
    });
}

bool isIPLiteral(const std::string& text) {
    unsigned char buffer[sizeof(in6_addr)];
    return ::inet_pton(AF_INET, text.c_str(), buffer) == 1 ||
           ::inet_pton(AF_INET6, text.c_str(), buffer) == 1;
}

bool isWildcard(const std::string& host) {
    return host == "0.0.0.0" || host == "::" || host.empty();
}

/// Runs jobs on a fixed set of threads; refuses new ones once stopped.
class Workers {
public:
    explicit Workers(unsigned count) {
        for (unsigned i = 0; i < std::max(1u, count); ++i)
            threads_.emplace_back([this] { run(); });
    }
    ~Workers() { stop(); }
    Workers(const Workers&) = delete;
    Workers& operator=(const Workers&) = delete;

    bool post(std::function<void()> job) {
        {
            std::lock_guard lock(mutex_);
            if (stopped_)
                return false;
            jobs_.push_back(std::move(job));
        }
        ready_.notify_one();
        return true;
    }
    /// Runs what is queued, then ends the threads.
    void stop() {
        {
            std::lock_guard lock(mutex_);
            stopped_ = true;
        }
        ready_.notify_all();
        for (auto& t : threads_)
            if (t.joinable())
                t.join();
    }

private:
    void run() {
        std::unique_lock lock(mutex_);
        while (true) {
            ready_.wait(lock, [&] { return stopped_ || !jobs_.empty(); });
            if (jobs_.empty())
                return;
            auto job = std::move(jobs_.front());
            jobs_.pop_front();
            lock.unlock();
            job();
            lock.lock();
        }
    }
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::function<void()>> jobs_;
    bool stopped_ = false;
    std::vector<std::thread> threads_;
};

} // namespace

bool hostAllowed(std::string_view host, const std::vector<std::string>& allowed, bool anyAddress) {
    std::string name;
    std::string_view port;
    if (!host.empty() && host.front() == '[') {
        auto close = host.find(']');
        if (close == std::string_view::npos)
            return false;
        name = std::string(host.substr(1, close - 1));
        auto rest = host.substr(close + 1);
        if (!rest.empty() && rest.front() != ':')
            return false;
        port = rest.empty() ? rest : rest.substr(1);
        unsigned char buffer[sizeof(in6_addr)];
        if (::inet_pton(AF_INET6, name.c_str(), buffer) != 1)
            return false;
    } else {
        auto colon = host.find(':');
        name = std::string(host.substr(0, colon));
        if (colon != std::string_view::npos) {
            port = host.substr(colon + 1);
            if (port.empty() || port.find(':') != std::string_view::npos)
                return false;
        }
        if (!name.empty() && name.back() == '.')
            name.pop_back();
    }
    if (name.empty() || port.size() > 5 ||
        !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    for (const auto& a : allowed)
        if (equalsIgnoringCase(name, a))
            return true;
    return anyAddress && isIPLiteral(name);
}

struct HTTPServer::Impl {
    /// One request on one connection, from its request line to its completion.
    struct Exchange {
        MHD_Connection* connection = nullptr;
        std::size_t targetBytes = 0; // of the raw request target, before decoding
        bool headersChecked = false;
        bool dispatched = false;
        Request request;
        std::optional<Outgoing> answer; // set by a worker, queued once the connection resumes
    };

    /// A slow or dropped answer's body, handed out piece by piece.
    struct Trickle {
        Impl* server;
        MHD_Connection* connection;
        std::string body;
        Delivery delivery;
        Clock::time_point started;
        std::chrono::milliseconds spread;
    };

    struct Tracked {
        int fd;
        Clock::time_point deadline; // of the current phase; max when none runs
    };

    Impl(std::string host, int port, std::vector<std::string> allowed, HTTPLimits limits, Handler handler)
        : host_(std::move(host)), requestedPort_(port), allowed_(std::move(allowed)), limits_(limits),
          handler_(std::move(handler)) {
        anyAddress_ = isWildcard(host_);
    }

    // ---- starting and stopping ----

    void start() {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
        addrinfo* found = nullptr;
        const auto portText = std::to_string(requestedPort_);
        if (::getaddrinfo(isWildcard(host_) && host_.empty() ? nullptr : host_.c_str(), portText.c_str(),
                          &hints, &found) != 0 ||
            !found)
            throw std::runtime_error("Could not resolve the listen address " + host_);
        std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> address(found, &::freeaddrinfo);

        // Past the descriptors the process may open, accept() would only fail.
        rlimit files{};
        unsigned connections = limits_.connections;
        if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY)
            connections = static_cast<unsigned>(
                std::min<rlim_t>(connections, files.rlim_cur > 128 ? files.rlim_cur - 64 : 64));

        unsigned flags = MHD_USE_EPOLL_INTERNAL_THREAD | MHD_ALLOW_SUSPEND_RESUME;
        if (address->ai_family == AF_INET6)
            flags |= MHD_USE_IPv6;
        workers_ = std::make_unique<Workers>(limits_.workers);
        timerThread_ = std::thread([this] { runTimers(); });
        // The header section, the request line and the first body bytes share this pool; twice the
        // header limit leaves room for all of them, and anything larger is refused by the library.
        const std::size_t memory = std::max<std::size_t>(2 * limits_.headerBytes + 4096, 32 * 1024);
        daemon_ = MHD_start_daemon(
            flags, static_cast<std::uint16_t>(requestedPort_), nullptr, nullptr, &Impl::access, this,
            MHD_OPTION_SOCK_ADDR, address->ai_addr, MHD_OPTION_THREAD_POOL_SIZE,
            static_cast<unsigned>(std::max(1u, limits_.ioThreads)), MHD_OPTION_CONNECTION_LIMIT, connections,
            MHD_OPTION_PER_IP_CONNECTION_LIMIT, limits_.connectionsPerAddress, MHD_OPTION_CONNECTION_TIMEOUT,
            limits_.idleSeconds, MHD_OPTION_CONNECTION_MEMORY_LIMIT, memory, MHD_OPTION_LISTEN_BACKLOG_SIZE,
            1024u, MHD_OPTION_STRICT_FOR_CLIENT, 1, MHD_OPTION_URI_LOG_CALLBACK, &Impl::requestLine, this,
            MHD_OPTION_NOTIFY_COMPLETED, &Impl::completed, this, MHD_OPTION_NOTIFY_CONNECTION,
            &Impl::connectionEvent, this, MHD_OPTION_END);
        if (!daemon_) {
            stopHelpers();
            throw std::runtime_error("Could not listen on " + host_ + ":" + portText +
                                     " (is the address in use?)");
        }
        const auto* info = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT);
        port_ = info ? info->port : requestedPort_;
    }

    void stop() {
        if (!daemon_)
            return;
        // Handlers still running finish and resume their connections; later requests get 503.
        workers_->stop();
        stopHelpers();
        MHD_stop_daemon(daemon_);
        daemon_ = nullptr;
    }

    void stopHelpers() {
        {
            std::lock_guard lock(timerMutex_);
            stopping_ = true;
        }
        timerWake_.notify_all();
        if (timerThread_.joinable())
            timerThread_.join();
        if (workers_)
            workers_->stop();
    }

    // ---- deadlines and timers ----

    /// Closes connections whose phase ran out of time, and resumes trickling answers when due.
    void runTimers() {
        std::unique_lock lock(timerMutex_);
        while (!stopping_) {
            auto next = Clock::now() + std::chrono::milliseconds(100);
            if (!resumes_.empty())
                next = std::min(next, resumes_.begin()->first);
            timerWake_.wait_until(lock, next, [&] {
                return stopping_ || (!resumes_.empty() && resumes_.begin()->first <= Clock::now());
            });
            const auto now = Clock::now();
            while (!resumes_.empty() && (stopping_ || resumes_.begin()->first <= now)) {
                MHD_resume_connection(resumes_.begin()->second);
                resumes_.erase(resumes_.begin());
            }
            lock.unlock();
            expireConnections(now);
            lock.lock();
        }
        // Every trickling answer resumes once more to end itself: none may stay suspended.
        for (auto& [due, connection] : resumes_)
            MHD_resume_connection(connection);
        resumes_.clear();
    }

    void expireConnections(Clock::time_point now) {
        std::lock_guard lock(trackMutex_);
        for (auto& [connection, tracked] : tracked_)
            if (tracked.deadline <= now) {
                // The library closes the connection when it sees the shutdown. The record goes before the
                // library closes the descriptor (that notification takes this lock), so it is still ours.
                ::shutdown(tracked.fd, SHUT_RDWR);
                tracked.deadline = Clock::time_point::max();
            }
    }

    void setDeadline(MHD_Connection* connection, std::optional<std::chrono::milliseconds> limit) {
        std::lock_guard lock(trackMutex_);
        auto it = tracked_.find(connection);
        if (it != tracked_.end())
            it->second.deadline = limit ? Clock::now() + *limit : Clock::time_point::max();
    }

    /// Resumes `connection` at `due`; false (and resumed at once) when stopping.
    bool resumeAt(Clock::time_point due, MHD_Connection* connection) {
        {
            std::lock_guard lock(timerMutex_);
            if (!stopping_) {
                resumes_.emplace(due, connection);
                timerWake_.notify_all();
                return true;
            }
        }
        MHD_resume_connection(connection);
        return false;
    }

    // ---- library callbacks ----

    static void connectionEvent(void* self, MHD_Connection* connection, void**,
                                MHD_ConnectionNotificationCode code) {
        auto* impl = static_cast<Impl*>(self);
        std::lock_guard lock(impl->trackMutex_);
        if (code == MHD_CONNECTION_NOTIFY_STARTED) {
            const auto* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
            if (info)
                impl->tracked_[connection] =
                    Tracked{info->connect_fd, Clock::now() + impl->limits_.headerTimeout};
        } else {
            impl->tracked_.erase(connection);
        }
    }

    static void* requestLine(void* self, const char* uri, MHD_Connection* connection) {
        auto exchange = std::make_unique<Exchange>();
        exchange->connection = connection;
        exchange->targetBytes = uri ? std::char_traits<char>::length(uri) : 0;
        (void)self;
        return exchange.release(); // owned by the library until completed() adopts it
    }

    static void completed(void* self, MHD_Connection* connection, void** context,
                          MHD_RequestTerminationCode) {
        std::unique_ptr<Exchange> exchange(static_cast<Exchange*>(*context));
        *context = nullptr;
        // The next request on this connection has the whole header phase again, idle time included.
        auto* impl = static_cast<Impl*>(self);
        impl->setDeadline(connection, impl->limits_.headerTimeout);
    }

    static MHD_Result access(void* self, MHD_Connection* connection, const char* url, const char* method,
                             const char* version, const char* upload, std::size_t* uploadSize,
                             void** context) {
        auto* impl = static_cast<Impl*>(self);
        if (!*context)
            *context = requestLine(self, url, connection);
        auto& exchange = *static_cast<Exchange*>(*context);
        if (exchange.answer)
            return impl->queue(connection, std::move(*exchange.answer)) ? MHD_YES : MHD_NO;
        if (!exchange.headersChecked) {
            exchange.headersChecked = true;
            if (auto refusal = impl->checkHeaders(connection, url, method, version, exchange))
                return impl->queue(connection, refuse(std::move(*refusal))) ? MHD_YES : MHD_NO;
            return MHD_YES;
        }
        if (upload && *uploadSize > 0) {
            auto& body = exchange.request.body;
            if (body.size() + *uploadSize > impl->limits_.bodyBytes) {
                // The library cannot queue an answer while it hands over body bytes (not even to a
                // suspended connection), and reading the rest could take forever. Nothing else writes on
                // the socket during the body, so the 413 goes to it directly; MHD_NO then closes it.
                impl->refuseDirectly(connection, tooLarge(impl->limits_.bodyBytes));
                return MHD_NO;
            }
            body.append(upload, *uploadSize);
            *uploadSize = 0;
            return MHD_YES;
        }
        if (exchange.dispatched)
            return MHD_YES;
        exchange.dispatched = true;
        impl->setDeadline(connection, std::nullopt);
        impl->dispatch(exchange);
        return MHD_YES;
    }

    // ---- requests ----

    static Outgoing refuse(Reply reply) {
        // The framing of what follows on the connection cannot be trusted: close it.
        reply.headers.emplace_back("Connection", "close");
        return Outgoing{std::move(reply)};
    }

    static Reply tooLarge(std::size_t limit) {
        return errorReply(413, "The request body is larger than " + std::to_string(limit) + " bytes");
    }

    /// The refusal of a request whose header section is complete, or nothing when it may go on.
    std::optional<Reply> checkHeaders(MHD_Connection* connection, const char* url, const char* method,
                                      const char* version, Exchange& exchange) {
        auto& request = exchange.request;
        request.method = method;
        request.path = url;
        MHD_get_connection_values(
            connection, MHD_HEADER_KIND,
            [](void* into, MHD_ValueKind, const char* name, const char* value) -> MHD_Result {
                static_cast<Request*>(into)->headers.emplace_back(name, value ? value : "");
                return MHD_YES;
            },
            &request);
        if (exchange.targetBytes + request.method.size() + 11 > limits_.requestLineBytes)
            return errorReply(414, "The request line is longer than " +
                                       std::to_string(limits_.requestLineBytes) + " bytes");
        std::size_t headerBytes = 0;
        for (const auto& [name, value] : request.headers)
            headerBytes += name.size() + value.size() + 4;
        if (headerBytes > limits_.headerBytes)
            return errorReply(431, "The request headers are larger than " +
                                       std::to_string(limits_.headerBytes) + " bytes");

        int hosts = 0;
        int authorizations = 0;
        int lengths = 0;
        std::optional<std::string> host;
        std::optional<std::string> length;
        std::optional<std::string> transferEncoding;
        std::optional<std::string> expect;
        for (const auto& [name, value] : request.headers) {
            if (!isToken(name))
                return errorReply(400, "Malformed header name");
            if (equalsIgnoringCase(name, "Host"))
                ++hosts, host = value;
            else if (equalsIgnoringCase(name, "Authorization"))
                ++authorizations;
            else if (equalsIgnoringCase(name, "Content-Length"))
                ++lengths, length = value;
            else if (equalsIgnoringCase(name, "Transfer-Encoding"))
                transferEncoding = transferEncoding ? *transferEncoding + "," + value : value;
            else if (equalsIgnoringCase(name, "Expect"))
                expect = value;
        }
        const bool http11 = std::string_view(version) == MHD_HTTP_VERSION_1_1;
        if (hosts > 1 || (http11 && hosts == 0))
            return errorReply(400, "A request needs exactly one Host header");
        if (authorizations > 1)
            return errorReply(400, "A request may have only one Authorization header");
        if (lengths > 1)
            return errorReply(400, "A request may have only one Content-Length header");
        if (transferEncoding && (length || !equalsIgnoringCase(trimmed(*transferEncoding), "chunked")))
            return errorReply(400, "Unsupported Transfer-Encoding");
        std::uint64_t announced = 0;
        if (length) {
            auto digits = trimmed(*length);
            if (digits.empty() || digits.size() > 19 ||
                !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
                return errorReply(400, "Malformed Content-Length");
            announced = std::stoull(std::string(digits));
        }
        if (expect && !equalsIgnoringCase(trimmed(*expect), "100-continue"))
            return errorReply(417, "Only \"Expect: 100-continue\" is understood");
        if (announced > limits_.bodyBytes)
            return tooLarge(limits_.bodyBytes);
        if (host && !hostAllowed(trimmed(*host), allowed_, anyAddress_))
            return errorReply(421, "This service does not answer for that host");

        MHD_get_connection_values(
            connection, MHD_GET_ARGUMENT_KIND,
            [](void* into, MHD_ValueKind, const char* name, const char* value) -> MHD_Result {
                static_cast<Request*>(into)->query.emplace_back(name ? name : "", value ? value : "");
                return MHD_YES;
            },
            &request);
        if (const auto* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS)) {
            char text[INET6_ADDRSTRLEN] = {};
            const auto* address = info->client_addr;
            if (address->sa_family == AF_INET)
                ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text,
                            sizeof text);
            else if (address->sa_family == AF_INET6)
                ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, text,
                            sizeof text);
            request.peer = text;
        }
        if (announced > 0 || transferEncoding) {
            // The reading buffer grows to the body as it arrives, never past the limit.
            request.body.reserve(
                static_cast<std::size_t>(std::min<std::uint64_t>(announced, limits_.bodyBytes)));
            setDeadline(connection, limits_.bodyTimeout);
        }
        return std::nullopt;
    }

    void dispatch(Exchange& exchange) {
        auto* connection = exchange.connection;

        MHD_suspend_connection(connection);
        auto* target = &exchange;
        bool posted = workers_->post([this, target, connection] {
            try {
                target->answer = handler_(target->request);
            } catch (const std::exception&) {
                target->answer = Outgoing{errorReply(500, "Internal server error")};
            }
            MHD_resume_connection(connection);
        });
        if (!posted) {
            exchange.answer = refuse(errorReply(503, "The service is stopping"));
            MHD_resume_connection(connection);
        }
    }

    static void refuseDirectly(MHD_Connection* connection, const Reply& reply) {
        const auto* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
        if (!info)
            return;
        const std::string text = "HTTP/1.1 " + std::to_string(reply.status) + " " +
                                 MHD_get_reason_phrase_for(static_cast<unsigned>(reply.status)) +
                                 "\r\nContent-Type: " + reply.contentType +
                                 "\r\nContent-Length: " + std::to_string(reply.body.size()) +
                                 "\r\nConnection: close\r\n\r\n" + reply.body;
        (void)::send(info->connect_fd, text.data(), text.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    }

    bool queue(MHD_Connection* connection, Outgoing outgoing) {
        auto& reply = outgoing.reply;
        const bool bodiless = reply.status == 204 || reply.status == 304;
        MHD_Response* response = nullptr;
        if (bodiless || outgoing.delivery == Delivery::whole || reply.body.empty()) {
            if (bodiless)
                reply.body.clear();
            response =
                MHD_create_response_from_buffer(reply.body.size(), reply.body.data(), MHD_RESPMEM_MUST_COPY);
        } else {
            auto trickle = std::make_unique<Trickle>(Trickle{
                this, connection, std::move(reply.body), outgoing.delivery, Clock::now(), outgoing.spread});
            const auto size =
                outgoing.delivery == Delivery::dropped ? trickle->body.size() : MHD_SIZE_UNKNOWN;
            response = MHD_create_response_from_callback(
                size, 4096, &Impl::readTrickle, trickle.get(),
                [](void* cls) { std::unique_ptr<Trickle>(static_cast<Trickle*>(cls)); });
            if (response)
                (void)trickle.release(); // the response owns it now
        }
        if (!response)
            return false;
        if (!bodiless)
            MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, reply.contentType.c_str());
        for (const auto& [name, value] : reply.headers)
            MHD_add_response_header(response, name.c_str(), value.c_str());
        const bool queued =
            MHD_queue_response(connection, static_cast<unsigned>(reply.status), response) == MHD_YES;
        MHD_destroy_response(response);
        return queued;
    }

    static ssize_t readTrickle(void* cls, std::uint64_t position, char* buffer, std::size_t max) {
        auto& t = *static_cast<Trickle*>(cls);
        const auto size = t.body.size();
        if (t.delivery == Delivery::dropped) {
            // Half the announced body, then the connection is cut.
            if (position >= size / 2)
                return MHD_CONTENT_READER_END_WITH_ERROR;
            const auto n = std::min<std::size_t>(max, size / 2 - position);
            std::copy_n(t.body.data() + position, n, buffer);
            return static_cast<ssize_t>(n);
        }
        if (position >= size)
            return MHD_CONTENT_READER_END_OF_STREAM;
        if (t.server->stoppingNow())
            return MHD_CONTENT_READER_END_WITH_ERROR;
        // Ten pieces, spread evenly: the next one waits for its time with the connection suspended.
        constexpr std::size_t pieces = 10;
        const std::size_t piece = (size + pieces - 1) / pieces;
        const auto index = position / piece;
        const auto due = t.started + t.spread * static_cast<long>(index) / static_cast<long>(pieces);
        if (Clock::now() < due) {
            MHD_suspend_connection(t.connection);
            t.server->resumeAt(due, t.connection);
            return 0;
        }
        const auto end = std::min<std::size_t>(size, (index + 1) * piece);
        const auto n = std::min<std::size_t>(max, end - position);
        std::copy_n(t.body.data() + position, n, buffer);
        return static_cast<ssize_t>(n);
    }

    bool stoppingNow() {
        std::lock_guard lock(timerMutex_);
        return stopping_;
    }

    std::string host_;
    int requestedPort_;
    std::vector<std::string> allowed_;
    bool anyAddress_ = false;
    HTTPLimits limits_;
    Handler handler_;
    MHD_Daemon* daemon_ = nullptr;
    int port_ = 0;
    std::unique_ptr<Workers> workers_;

    std::mutex trackMutex_;
    std::unordered_map<MHD_Connection*, Tracked> tracked_;

    std::mutex timerMutex_;
    std::condition_variable timerWake_;
    std::multimap<Clock::time_point, MHD_Connection*> resumes_;
    bool stopping_ = false;
    std::thread timerThread_;
};

HTTPServer::HTTPServer(std::string host, int port, std::vector<std::string> allowedHosts, HTTPLimits limits,
                       Handler handler)
    : impl_(std::make_unique<Impl>(std::move(host), port, std::move(allowedHosts), limits,
                                   std::move(handler))) {}

HTTPServer::~HTTPServer() {
    stop();
}

void HTTPServer::start() {
    impl_->start();
}

void HTTPServer::stop() {
    impl_->stop();
}

int HTTPServer::port() const {
    return impl_->port_;
}

} // namespace quillnest

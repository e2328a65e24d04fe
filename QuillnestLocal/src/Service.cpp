#include "quillnest/Service.hpp"

#include "quillnest/Demo.hpp"
#include "quillnest/Storage.hpp"

#include "joblark/Foundation/Log.hpp"

#include <httplib.h>

#include <chrono>
#include <stdexcept>
#include <sys/socket.h>

namespace quillnest {

namespace {

const joblark::Logger& serviceLog() {
    static const joblark::Logger log("quillnest-local", "Server");
    return log;
}

const char* reasonPhrase(int status) {
    switch (status) {
    case 400:
        return "Bad request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not found";
    case 405:
        return "Method not allowed";
    case 408:
        return "Request timed out";
    case 413:
        return "Request body too large";
    case 414:
        return "Request URI too long";
    case 416:
        return "Range not satisfiable";
    case 429:
        return "Too many requests";
    case 500:
        return "Internal server error";
    case 502:
        return "Bad gateway";
    case 503:
        return "Service unavailable";
    case 504:
        return "Gateway timeout";
    default:
        return status < 500 ? "Request failed" : "Server error";
    }
}

Request toRequest(const httplib::Request& r, std::string body) {
    Request request;
    request.method = r.method;
    request.path = r.path;
    for (const auto& [name, value] : r.params)
        request.query.emplace_back(name, value);
    for (const auto& [name, value] : r.headers)
        request.headers.emplace_back(name, value);
    request.body = std::move(body);
    return request;
}

void write(httplib::Response& response, Reply reply) {
    response.status = reply.status;
    for (auto& [name, value] : reply.headers)
        response.set_header(name.c_str(), value);
    if (reply.status == 204 || reply.status == 304)
        return;
    response.set_content(std::move(reply.body), reply.contentType.c_str());
}

bool isLoopback(const std::string& host) {
    return host == "127.0.0.1" || host == "::1" || host == "localhost" || host.rfind("127.", 0) == 0;
}

} // namespace

Service::Service(ServiceOptions options)
    : options_(std::move(options)), storage_(std::make_unique<Storage>(options_.databasePath)),
      faultRandom_(options_.faults.seed) {}

Service::~Service() {
    stop();
}

std::optional<Fault> Service::drawFault() {
    if (options_.faults.rate <= 0)
        return std::nullopt;
    std::lock_guard lock(faultMutex_);
    if (std::uniform_real_distribution<double>(0, 1)(faultRandom_) >= options_.faults.rate)
        return std::nullopt;
    return static_cast<Fault>(std::uniform_int_distribution<int>(0, 5)(faultRandom_));
}

void Service::respond(const Request& request, httplib::Response& response) {
    if (auto target = demoTarget(request)) {
        write(response, std::move(*target));
        return;
    }
    auto fault = request.path.rfind("/api/", 0) == 0 ? drawFault() : std::nullopt;
    if (fault) {
        switch (*fault) {
        case Fault::serverError:
            return write(response, errorReply(500, "Injected fault: internal server error"));
        case Fault::badGateway:
            return write(response, errorReply(502, "Injected fault: bad gateway"));
        case Fault::gatewayTimeout:
            return write(response, errorReply(504, "Injected fault: gateway timeout"));
        case Fault::tooManyRequests: {
            auto reply = errorReply(429, "Injected fault: too many requests");
            reply.headers.emplace_back("Retry-After", "1");
            return write(response, std::move(reply));
        }
        case Fault::slowBody:
        case Fault::droppedConnection:
            break;
        }
    }
    auto reply = api_->handle(request);
    if (!fault || reply.body.empty()) {
        write(response, std::move(reply));
        return;
    }
    response.status = reply.status;
    for (auto& [name, value] : reply.headers)
        response.set_header(name.c_str(), value);
    auto body = std::make_shared<std::string>(std::move(reply.body));
    if (*fault == Fault::droppedConnection) {
        // Announce the whole body, send half, then give up: the peer sees the connection close early.
        response.set_content_provider(body->size(), reply.contentType.c_str(),
                                      [body](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                          if (offset > 0)
                                              return false;
                                          sink.write(body->data(), body->size() / 2);
                                          return true;
                                      });
        return;
    }
    // A slow body: the answer trickles out in pieces over the configured time.
    constexpr std::size_t pieces = 10;
    auto pause = std::chrono::duration<double>(options_.faults.slowBodySeconds / pieces);
    response.set_chunked_content_provider(
        reply.contentType.c_str(),
        [body, pause, step = std::size_t{0}](std::size_t, httplib::DataSink& sink) mutable {
            std::this_thread::sleep_for(pause);
            auto size = (body->size() + pieces - 1) / pieces;
            auto start = std::min(body->size(), step * size);
            auto length = std::min(size, body->size() - start);
            ++step;
            if (length > 0)
                sink.write(body->data() + start, length);
            if (start + length >= body->size())
                sink.done();
            return true;
        });
}

void Service::start() {
    server_ = std::make_unique<httplib::Server>();
    auto& server = *server_;
    const int threads = options_.threads;
    // httplib takes ownership of the queue it is handed.
    server.new_task_queue = [threads] { return std::make_unique<httplib::ThreadPool>(threads).release(); };
    // Headers and body go out in separate writes; without this, Nagle and delayed ACKs add 40 ms.
    server.set_tcp_nodelay(true);
    server.set_keep_alive_timeout(2);
    server.set_keep_alive_max_count(1000);
    server.set_read_timeout(10);
    server.set_write_timeout(10);
    server.set_payload_max_length(options_.maxBodyBytes);
    // httplib's default also sets SO_REUSEPORT, which would let a second instance share our port
    // silently; a taken port must be an error.
    server.set_socket_options([](socket_t socket) {
        int yes = 1;
        ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    server.set_error_handler(
        httplib::Server::HandlerWithResponse([](const httplib::Request&, httplib::Response& response) {
            // Our own errors carry their message already; httplib's own (400, 404, 413, ...) get one here.
            if (!response.body.empty())
                return httplib::Server::HandlerResponse::Unhandled;
            response.set_content(errorReply(response.status, reasonPhrase(response.status)).body,
                                 "application/json");
            return httplib::Server::HandlerResponse::Handled;
        }));
    server.set_exception_handler(
        [](const httplib::Request&, httplib::Response& response, std::exception_ptr) {
            write(response, errorReply(500, "Internal server error"));
        });

    const std::size_t limit = options_.maxBodyBytes;
    auto withBody = [this, limit](const httplib::Request& r, httplib::Response& response,
                                  const httplib::ContentReader& reader) {
        std::string body;
        bool tooLarge = false;
        bool complete = reader([&](const char* data, std::size_t length) {
            if (body.size() + length > limit) {
                tooLarge = true;
                return false;
            }
            body.append(data, length);
            return true;
        });
        // httplib refuses an announced Content-Length over the limit itself, before reading.
        if (!complete && response.status == 413)
            tooLarge = true;
        if (!complete && !tooLarge) {
            write(response, errorReply(400, "The request body could not be read"));
            return;
        }
        if (tooLarge) {
            // The rest of the body is still on the wire; the connection cannot be reused.
            auto reply =
                errorReply(413, "The request body is larger than " + std::to_string(limit) + " bytes");
            reply.headers.emplace_back("Connection", "close");
            write(response, std::move(reply));
            return;
        }
        respond(toRequest(r, std::move(body)), response);
    };
    auto withoutBody = [this](const httplib::Request& r, httplib::Response& response) {
        respond(toRequest(r, r.body), response);
    };
    server.Get(".*", withoutBody);
    server.Options(".*", withoutBody);
    server.Post(".*", withBody);
    server.Put(".*", withBody);
    server.Patch(".*", withBody);
    server.Delete(".*", withBody);

    port_ = options_.port == 0 ? server.bind_to_any_port(options_.host) : options_.port;
    if (port_ <= 0 || (options_.port != 0 && !server.bind_to_port(options_.host, options_.port)))
        throw std::runtime_error("Could not listen on " + options_.host + ":" +
                                 std::to_string(options_.port) + " (is the address in use?)");
    auto hostForUrl =
        options_.host.find(':') != std::string::npos ? "[" + options_.host + "]" : options_.host;
    publicUrl_ = options_.publicUrl.value_or("http://" + hostForUrl + ":" + std::to_string(port_));
    while (!publicUrl_.empty() && publicUrl_.back() == '/')
        publicUrl_.pop_back();

    ApiOptions apiOptions;
    apiOptions.publicUrl = publicUrl_;
    apiOptions.endpointLimit = options_.endpointLimit;
    apiOptions.passwordCost = options_.passwordCost;
    api_ = std::make_unique<Api>(*storage_, apiOptions);
    if (options_.prober) {
        prober_ = std::make_unique<Prober>(*storage_, options_.probing);
        liveProber_ = prober_.get();
        api_->onEndpointReady = [this](std::int64_t id) {
            std::lock_guard lock(proberMutex_);
            if (liveProber_)
                liveProber_->probeSoon(id);
        };
    }

    {
        std::lock_guard lock(mutex_);
        listening_ = true;
    }
    // The socket listens already: requests made before accept() starts simply wait.
    thread_ = std::thread([this] {
        server_->listen_after_bind();
        std::lock_guard lock(mutex_);
        listening_ = false;
        changed_.notify_all();
    });

    if (options_.demo) {
        if (!isLoopback(options_.host))
            serviceLog().error(
                "The demo account has a published password; anyone who can reach %{PUBLIC}@ can "
                "use it",
                publicUrl_);
        demo_ = std::make_unique<Demo>(*api_, *storage_, publicUrl_, options_.probing.interval);
        demoToken_ = demo_->seed();
        demo_->startReporter();
    }
    if (prober_)
        prober_->start();
}

void Service::stop() {
    if (demo_)
        demo_->stop();
    // The prober's session keeps connections to our own demo targets alive; ending it first frees the
    // server threads that hold them.
    {
        std::lock_guard lock(proberMutex_);
        liveProber_ = nullptr;
    }
    prober_.reset();
    if (server_ && thread_.joinable()) {
        // httplib 0.11 can miss a stop() that lands between its poll and accept(); knock on the port
        // until the accept loop has noticed.
        for (int attempt = 0; attempt < 100; ++attempt) {
            server_->stop();
            {
                httplib::Client knock(options_.host == "0.0.0.0" ? "127.0.0.1" : options_.host, port_);
                knock.set_connection_timeout(0, 100'000);
                knock.set_read_timeout(0, 200'000);
                (void)knock.Get("/");
            }
            std::unique_lock lock(mutex_);
            if (changed_.wait_for(lock, std::chrono::milliseconds(100), [&] { return !listening_; }))
                break;
        }
        thread_.join();
    }
    demo_.reset();
}

} // namespace quillnest

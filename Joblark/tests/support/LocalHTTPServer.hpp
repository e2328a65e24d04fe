#pragma once

#include "joblark/Foundation/URL.hpp"

#include <httplib.h>

#include <cctype>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace joblark::testing {

/// What the server received for one request.
struct RecordedRequest {
    std::string method;
    std::string path;
    std::multimap<std::string, std::string> query;
    std::vector<std::pair<std::string, std::string>> headers; // in arrival order per name
    std::string body;
    int remotePort = -1;

    /// First value of `name` (case-insensitive), or absent.
    std::optional<std::string> header(std::string_view name) const {
        for (const auto& [field, value] : headers)
            if (equalsIgnoringCase(field, name))
                return value;
        return std::nullopt;
    }
    std::vector<std::string> headerValues(std::string_view name) const {
        std::vector<std::string> values;
        for (const auto& [field, value] : headers)
            if (equalsIgnoringCase(field, name))
                values.push_back(value);
        return values;
    }

    static bool equalsIgnoringCase(std::string_view a, std::string_view b) {
        if (a.size() != b.size())
            return false;
        for (std::size_t i = 0; i < a.size(); ++i)
            if (std::tolower(static_cast<unsigned char>(a[i])) !=
                std::tolower(static_cast<unsigned char>(b[i])))
                return false;
        return true;
    }
};

/// An HTTP/1.1 server on 127.0.0.1 (ephemeral port) running in its own threads for the life of the
/// object. Handlers can be registered at any time; every request is recorded before its handler runs;
/// unknown paths get 404.
class LocalHTTPServer {
public:
    using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

    LocalHTTPServer() {
        // Enough workers that many concurrent keep-alive connections do not queue behind idle ones.
        server_.new_task_queue = [] { return new httplib::ThreadPool(64); };
        // stop() waits for idle keep-alive connections to time out; keep that short.
        server_.set_keep_alive_timeout(1);
        server_.set_keep_alive_max_count(1000);
        auto dispatch = [this](const httplib::Request& request, httplib::Response& response) {
            handle(request, response);
        };
        server_.Get(".*", dispatch);
        server_.Post(".*", dispatch);
        server_.Put(".*", dispatch);
        server_.Patch(".*", dispatch);
        server_.Delete(".*", dispatch);
        server_.Options(".*", dispatch);
        port_ = server_.bind_to_any_port("127.0.0.1");
        // The socket already listens, so connections made before accept() starts simply wait.
        if (port_ > 0)
            thread_ = std::thread([this] {
                server_.listen_after_bind();
                std::lock_guard lock(mutex_);
                listening_ = false;
                changed_.notify_all();
            });
    }

    ~LocalHTTPServer() {
        release();
        if (!thread_.joinable())
            return;
        // httplib 0.11 reads its socket and then blocks in accept(); a stop() between the two is missed
        // (seen under ThreadSanitizer). So stop again and knock on the port until the loop has left.
        for (int attempt = 0; attempt < 100; ++attempt) {
            server_.stop();
            knock();
            std::unique_lock lock(mutex_);
            if (changed_.wait_for(lock, std::chrono::milliseconds(100), [&] { return !listening_; }))
                break;
        }
        thread_.join();
    }

    LocalHTTPServer(const LocalHTTPServer&) = delete;
    LocalHTTPServer& operator=(const LocalHTTPServer&) = delete;

    bool isRunning() const { return port_ > 0; }
    int port() const { return port_; }
    std::string urlString(std::string_view path = "/") const {
        return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
    }
    URL url(std::string_view path = "/") const { return *URL::parse(urlString(path)); }

    /// `method` is "GET", "POST", ... or "*" for any; `path` matches exactly (without the query).
    void on(std::string method, std::string path, Handler handler) {
        std::lock_guard lock(mutex_);
        handlers_[{std::move(method), std::move(path)}] = std::move(handler);
    }

    std::vector<RecordedRequest> requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }

    /// Waits until `count` requests have arrived or the time is up.
    bool waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
    }

    /// For handlers that must stall: returns true once release() is called (or the server stops), false
    /// when `limit` passes first.
    bool holdUntilReleased(std::chrono::milliseconds limit) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] { return released_; });
    }

    void release() {
        std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }

private:
    void knock() const {
        httplib::Client client("127.0.0.1", port_);
        client.set_connection_timeout(0, 100'000);
        client.set_read_timeout(0, 200'000);
        client.Get("/");
    }

    void handle(const httplib::Request& request, httplib::Response& response) {
        RecordedRequest record{
            request.method, request.path,       {request.params.begin(), request.params.end()}, {},
            request.body,   request.remote_port};
        for (const auto& [name, value] : request.headers) {
            // httplib adds these itself; they were not on the wire.
            if (name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" ||
                name == "LOCAL_PORT")
                continue;
            record.headers.emplace_back(name, value);
        }
        Handler handler;
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(std::move(record));
            changed_.notify_all();
            auto it = handlers_.find({request.method, request.path});
            if (it == handlers_.end() && request.method == "HEAD")
                it = handlers_.find({"GET", request.path});
            if (it == handlers_.end())
                it = handlers_.find({"*", request.path});
            if (it != handlers_.end())
                handler = it->second;
        }
        if (handler)
            handler(request, response);
        else
            response.status = 404;
    }

    httplib::Server server_;
    int port_ = -1;
    std::thread thread_;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::map<std::pair<std::string, std::string>, Handler> handlers_;
    std::vector<RecordedRequest> requests_;
    bool released_ = false;
    bool listening_ = true;
};

} // namespace joblark::testing

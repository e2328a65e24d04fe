#pragma once

#include "quillnest/Api.hpp"
#include "quillnest/HTTPServer.hpp"
#include "quillnest/Prober.hpp"
#include "quillnest/Security.hpp"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>

namespace quillnest {

class Storage;
class Demo;

/// Answers that go wrong on purpose, so a client's error paths meet a real peer.
struct FaultOptions {
    /// Share of API answers replaced by a fault (0 = none, 1 = all).
    double rate = 0;
    std::uint64_t seed = 0;
    /// How long a slow body takes to arrive, in seconds.
    double slowBodySeconds = 3;
};

enum class Fault { serverError, badGateway, gatewayTimeout, tooManyRequests, slowBody, droppedConnection };

struct ServiceOptions {
    std::string host = "127.0.0.1";
    /// 0 picks a free port.
    int port = 8787;
    /// Origin of the "url" fields; the listen address when absent.
    std::optional<std::string> publicUrl;
    std::filesystem::path databasePath;
    bool demo = false;
    bool prober = true;
    ProberOptions probing;
    FaultOptions faults;
    std::int64_t endpointLimit = 50;
    PasswordCost passwordCost = PasswordCost::interactive;
    /// What one client may cost the transport, and its threads.
    HTTPLimits http;
};

/// The whole service: storage, HTTP server, prober and (with --demo) the demo account and its reporter.
class Service {
public:
    /// Opens the database; throws StorageError when it cannot.
    explicit Service(ServiceOptions options);
    ~Service();
    Service(const Service&) = delete;
    Service& operator=(const Service&) = delete;

    /// Binds the address and starts serving (and probing); throws std::runtime_error when the address
    /// cannot be bound.
    void start();
    /// Stops serving and probing; safe to call twice.
    void stop();

    int port() const { return port_; }
    const std::string& publicUrl() const { return publicUrl_; }
    Storage& storage() { return *storage_; }
    Api& api() { return *api_; }
    /// Absent when probing is off or the service has stopped.
    Prober* prober() { return prober_.get(); }
    /// The demo account's token, issued at start (with --demo only).
    std::optional<std::string> demoToken() const { return demoToken_; }

private:
    Outgoing respond(const Request& request);
    std::optional<Fault> drawFault();

    ServiceOptions options_;
    std::unique_ptr<Storage> storage_;
    std::mutex readyMutex_;
    std::condition_variable ready_;
    std::unique_ptr<Api> api_; // set once, after binding
    std::unique_ptr<HTTPServer> server_;
    std::unique_ptr<Prober> prober_;
    std::mutex proberMutex_;
    Prober* liveProber_ = nullptr; // cleared before the prober goes
    std::unique_ptr<Demo> demo_;
    int port_ = 0;
    std::string publicUrl_;
    std::optional<std::string> demoToken_;
    std::mutex faultMutex_;
    std::mt19937_64 faultRandom_;
};

} // namespace quillnest

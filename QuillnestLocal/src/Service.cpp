#include "quillnest/Service.hpp"

#include "quillnest/Demo.hpp"
#include "quillnest/Storage.hpp"

#include "joblark/Foundation/Log.hpp"

#include "joblark/Foundation/URL.hpp"

#include <chrono>
#include <stdexcept>
#include <sys/socket.h>

namespace quillnest {

namespace {

const joblark::Logger& serviceLog() {
    static const joblark::Logger log("quillnest-local", "Server");
    return log;
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

Outgoing Service::respond(const Request& request) {
    {
        // A request can arrive between binding and the API's creation (it needs the bound port).
        std::unique_lock lock(readyMutex_);
        ready_.wait(lock, [&] { return api_ != nullptr; });
    }
    if (auto target = demoTarget(request, publicUrl_))
        return Outgoing{std::move(*target)};
    auto fault = request.path.rfind("/api/", 0) == 0 ? drawFault() : std::nullopt;
    if (fault) {
        switch (*fault) {
        case Fault::serverError:
            return Outgoing{errorReply(500, "Injected fault: internal server error")};
        case Fault::badGateway:
            return Outgoing{errorReply(502, "Injected fault: bad gateway")};
        case Fault::gatewayTimeout:
            return Outgoing{errorReply(504, "Injected fault: gateway timeout")};
        case Fault::tooManyRequests: {
            auto reply = errorReply(429, "Injected fault: too many requests");
            reply.headers.emplace_back("Retry-After", "1");
            return Outgoing{std::move(reply)};
        }
        case Fault::slowBody:
        case Fault::droppedConnection:
            break;
        }
    }
    Outgoing outgoing{api_->handle(request)};
    if (fault == Fault::droppedConnection) {
        outgoing.delivery = Delivery::dropped;
    } else if (fault == Fault::slowBody) {
        outgoing.delivery = Delivery::slow;
        outgoing.spread =
            std::chrono::milliseconds(static_cast<long>(options_.faults.slowBodySeconds * 1000));
    }
    return outgoing;
}

void Service::start() {
    std::vector<std::string> hosts{"localhost"};
    if (!options_.host.empty())
        hosts.push_back(options_.host);
    if (options_.publicUrl)
        if (auto url = joblark::URL::parse(*options_.publicUrl); url && url->host()) {
            auto name = *url->host();
            if (name.size() > 2 && name.front() == '[' && name.back() == ']')
                name = name.substr(1, name.size() - 2);
            hosts.push_back(name);
        }
    server_ = std::make_unique<HTTPServer>(options_.host, options_.port, hosts, options_.http,
                                           [this](const Request& request) { return respond(request); });
    server_->start();
    port_ = server_->port();
    auto hostForUrl =
        options_.host.find(':') != std::string::npos ? "[" + options_.host + "]" : options_.host;
    publicUrl_ = options_.publicUrl.value_or("http://" + hostForUrl + ":" + std::to_string(port_));
    while (!publicUrl_.empty() && publicUrl_.back() == '/')
        publicUrl_.pop_back();

    ApiOptions apiOptions;
    apiOptions.publicUrl = publicUrl_;
    apiOptions.endpointLimit = options_.endpointLimit;
    apiOptions.passwordCost = options_.passwordCost;
    auto api = std::make_unique<Api>(*storage_, apiOptions);
    if (options_.prober) {
        prober_ = std::make_unique<Prober>(*storage_, options_.probing);
        liveProber_ = prober_.get();
        api->onEndpointReady = [this](std::int64_t id) {
            std::lock_guard lock(proberMutex_);
            if (liveProber_)
                liveProber_->probeSoon(id);
        };
    }
    {
        std::lock_guard lock(readyMutex_);
        api_ = std::move(api);
    }
    ready_.notify_all();

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
    // The prober's session keeps connections to our own demo targets open; ending it first lets the
    // server close quickly.
    {
        std::lock_guard lock(proberMutex_);
        liveProber_ = nullptr;
    }
    prober_.reset();
    if (server_)
        server_->stop();
    demo_.reset();
}

} // namespace quillnest

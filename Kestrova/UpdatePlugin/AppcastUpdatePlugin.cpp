// The update plug-in the program ships: reads an appcast feed and reports, in the update window,
// whether a newer version exists. Loaded at run time by SparkleBridgeClient.

#include "Shell/SparkleBridge.hpp"
#include "UpdatePlugin/Appcast.hpp"

#include "joblark/Foundation/MainThread.hpp"
#include "joblark/Foundation/URLSession.hpp"
#include "joblark/Foundation/UserDefaults.hpp"

#include <mutex>

namespace kestrova {
namespace {

/// Feeds are small; anything bigger is not one.
constexpr std::size_t kMaximumFeedSize = 1024 * 1024;
constexpr double kFeedTimeout = 30;
constexpr std::string_view kFeedURLKey = "kUpdateFeedURL";

UserActivity activity(std::string_view status) {
    UserActivity made{"kestrova.Update", {}};
    made.userInfo[std::string(UpdateActivity::statusKey)] = std::string(status);
    return made;
}

UserActivity failure(std::string description) {
    auto made = activity(UpdateActivity::failed);
    made.userInfo[std::string(UpdateActivity::errorKey)] = std::move(description);
    return made;
}

/// What a fetched feed means for this version.
UserActivity evaluate(const std::optional<joblark::Data>& body,
                      const std::optional<joblark::HTTPURLResponse>& response, const joblark::ErrorPtr& error,
                      const std::string& currentVersion) {
    if (error)
        return failure("The update feed could not be loaded: " + error->localizedDescription());
    if (!response || !response->ok())
        return failure("The update feed could not be loaded (HTTP status " +
                       std::to_string(response ? response->statusCode : 0) + ").");
    if (body && body->size() > kMaximumFeedSize)
        return failure("The update feed is too large.");
    const std::string_view xml =
        body ? std::string_view(reinterpret_cast<const char*>(body->data()), body->size())
             : std::string_view();
    auto appcast = Appcast::parse(xml);
    if (!appcast)
        return failure(appcast.error()->localizedDescription());
    auto newest = appcast->newestItem();
    if (!newest)
        return failure("The update feed lists no versions.");
    const bool newer = compareVersions(newest->version, currentVersion) > 0;
    auto result = activity(newer ? UpdateActivity::available : UpdateActivity::upToDate);
    auto& info = result.userInfo;
    info[std::string(UpdateActivity::currentVersionKey)] = currentVersion;
    info[std::string(UpdateActivity::versionKey)] = newest->displayVersion.value_or(newest->version);
    if (newer && newest->releaseNotesLink)
        info[std::string(UpdateActivity::releaseNotesURLKey)] = *newest->releaseNotesLink;
    if (newer && newest->downloadURL)
        info[std::string(UpdateActivity::downloadURLKey)] = *newest->downloadURL;
    return result;
}

/// One check at a time; the plug-in's callbacks hold it weakly, so a destroyed plug-in hears nothing.
class Checker : public std::enable_shared_from_this<Checker> {
public:
    explicit Checker(SparkleBridgeConfiguration configuration) : configuration_(std::move(configuration)) {}

    ~Checker() {
        if (auto task = takeTask())
            task->cancel();
    }

    void check() {
        tell(activity(UpdateActivity::checking));
        if (running())
            return;
        auto feed = feedURL();
        if (!feed) {
            tell(failure("The update feed address is not an http or https URL."));
            return;
        }
        joblark::URLRequest request{*feed};
        request.timeoutInterval = kFeedTimeout;
        std::weak_ptr<Checker> weak = weak_from_this();
        auto task = joblark::URLSession::shared().dataTask(
            std::move(request),
            [weak](std::optional<joblark::Data> body, std::optional<joblark::HTTPURLResponse> response,
                   joblark::ErrorPtr error) {
                auto self = weak.lock();
                if (!self)
                    return;
                self->takeTask();
                self->tell(evaluate(body, response, error, self->configuration_.applicationVersion));
            });
        {
            std::lock_guard lock(mutex_);
            task_ = task;
        }
        task->resume();
    }

private:
    std::optional<joblark::URL> feedURL() const {
        auto text = joblark::UserDefaults::standard()
                        .stringForKey(kFeedURLKey)
                        .value_or(configuration_.defaultFeedURL);
        auto url = joblark::URL::parse(text);
        if (!url || (url->scheme() != "http" && url->scheme() != "https") || !url->host())
            return std::nullopt;
        return url;
    }

    bool running() const {
        std::lock_guard lock(mutex_);
        return task_ != nullptr;
    }

    std::shared_ptr<joblark::URLSessionDataTask> takeTask() {
        std::lock_guard lock(mutex_);
        return std::exchange(task_, nullptr);
    }

    /// The window is the application's: the call goes to the main thread.
    void tell(UserActivity update) {
        auto delegate = configuration_.delegate;
        joblark::MainThread::runAsync([delegate, update = std::move(update)]() mutable {
            if (auto target = delegate.lock())
                target->openUpdaterOrMakeKeyAndVisible(std::move(update));
        });
    }

    const SparkleBridgeConfiguration configuration_;
    mutable std::mutex mutex_; // the fetch's completion runs on the session thread
    std::shared_ptr<joblark::URLSessionDataTask> task_;
};

class AppcastUpdatePlugin : public SparkleBridgePlugin {
public:
    explicit AppcastUpdatePlugin(SparkleBridgeConfiguration configuration)
        : checker_(std::make_shared<Checker>(std::move(configuration))) {}
    void checkForUpdates() override { checker_->check(); }

private:
    std::shared_ptr<Checker> checker_;
};

} // namespace
} // namespace kestrova

extern "C" {

__attribute__((visibility("default"))) int kestrova_sparkle_bridge_interface_version() {
    return kestrova::sparkleBridgeInterfaceVersion;
}

__attribute__((visibility("default"))) void
kestrova_sparkle_bridge_create(const kestrova::SparkleBridgeConfiguration& configuration,
                               std::unique_ptr<kestrova::SparkleBridgePlugin>& plugin) {
    plugin = std::make_unique<kestrova::AppcastUpdatePlugin>(configuration);
}
}

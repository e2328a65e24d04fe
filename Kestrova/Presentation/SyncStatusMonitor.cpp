#include "Presentation/SyncStatusMonitor.hpp"

#include "joblark/Foundation/DateFormatter.hpp"

#include <sys/stat.h>

namespace kestrova {
namespace {

std::optional<joblark::Date> modificationTime(const std::filesystem::path& file) {
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0)
        return std::nullopt;
    return joblark::Date::fromTimeIntervalSince1970(static_cast<double>(info.st_mtim.tv_sec) +
                                                    static_cast<double>(info.st_mtim.tv_nsec) / 1e9);
}

void post() {
    joblark::NotificationCenter::defaultCenter().post(std::string(SyncStatusMonitor::didChange));
}

} // namespace

std::shared_ptr<SyncStatusMonitor> SyncStatusMonitor::make(std::shared_ptr<AppStateController> controller) {
    std::shared_ptr<SyncStatusMonitor> monitor(new SyncStatusMonitor(std::move(controller)));
    monitor->observe();
    return monitor;
}

SyncStatusMonitor::SyncStatusMonitor(std::shared_ptr<AppStateController> controller)
    : controller_(std::move(controller)), dataFrom_(modificationTime(controller_->cacheFileLocation())) {}

void SyncStatusMonitor::observe() {
    auto& center = joblark::NotificationCenter::defaultCenter();
    const std::weak_ptr<SyncStatusMonitor> weak = weak_from_this();
    // Both are posted on the main thread, one right after the other, by the end of every sync.
    observers_.push_back(center.addObserver(std::string(AppStateController::userDidChange), std::nullopt,
                                            [weak](const joblark::Notification&) {
                                                if (auto self = weak.lock())
                                                    self->syncEnding_ = true;
                                            }));
    observers_.push_back(center.addObserver(std::string(AppStateController::endpointsDidChange), std::nullopt,
                                            [weak](const joblark::Notification& notification) {
                                                auto self = weak.lock();
                                                if (!self || !self->syncEnding_)
                                                    return;
                                                self->syncEnding_ = false;
                                                // The refresh timer keeps running signed out; its
                                                // syncs fail for want of a token, not a connection.
                                                if (self->controller_->isSignedIn())
                                                    self->syncDidFinish(notification.object.isArray());
                                            }));
    for (auto name : {AppStateController::didLogin, AppStateController::didLogout})
        observers_.push_back(
            center.addObserver(std::string(name), std::nullopt, [weak](const joblark::Notification&) {
                if (auto self = weak.lock())
                    self->reset();
            }));
}

void SyncStatusMonitor::reset() {
    syncEnding_ = false;
    if (state_ == State::unknown)
        return;
    state_ = State::unknown;
    post();
}

void SyncStatusMonitor::syncDidFinish(bool reachedService, const joblark::Date& now) {
    const State before = state_;
    if (reachedService)
        dataFrom_ = now;
    state_ = reachedService ? State::online : State::offline;
    // Every success moves the data's time; a failure changes nothing shown unless it is the first.
    if (reachedService || before != state_)
        post();
}

std::optional<std::string> SyncStatusMonitor::notice() const {
    if (state_ != State::offline)
        return std::nullopt;
    if (!dataFrom_)
        return "offline: no data from the service yet";
    static const joblark::DateFormatter formatter(joblark::DateStyle::mediumStyle,
                                                  joblark::DateStyle::shortStyle);
    return "offline: data from " + formatter.string(*dataFrom_);
}

} // namespace kestrova

#include "Presentation/HistoryRecorder.hpp"

#include "joblark/Foundation/MainThread.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace kestrova {

std::string uptimeSummaryText(const UptimeSummary& summary) {
    auto percent = [](const std::optional<double>& share) -> std::string {
        if (!share)
            return "–";
        char text[16];
        // One decimal, cut rather than rounded, so 99.96% never reads as a clean 100.0%.
        std::snprintf(text, sizeof text, "%.1f%%", std::floor(*share * 1000.0) / 10.0);
        return text;
    };
    return "Uptime: " + percent(summary.day) + " (24 h) · " + percent(summary.week) + " (7 d) · " +
           percent(summary.month) + " (30 d)";
}

std::optional<std::chrono::hours> chartRangeWindow(ChartRange range) {
    switch (range) {
    case ChartRange::recentChecks:
        return std::nullopt;
    case ChartRange::day:
        return std::chrono::hours(24);
    case ChartRange::week:
        return std::chrono::hours(24 * 7);
    case ChartRange::month:
        return std::chrono::hours(24 * 30);
    }
    return std::nullopt;
}

LineChartData historyChart(LineChartData styled, const std::vector<HistoryPoint>& points,
                           std::size_t maxPoints) {
    if (styled.dataSets.empty())
        return styled;
    const std::size_t buckets = std::max<std::size_t>(1, std::min(points.size(), maxPoints));
    auto& values = styled.dataSets.front();
    values.entries.clear();
    for (std::size_t b = 0; b < buckets && !points.empty(); ++b) {
        // Bucket b holds points [b*n/buckets, (b+1)*n/buckets): every point lands in exactly one.
        const std::size_t first = b * points.size() / buckets, end = (b + 1) * points.size() / buckets;
        double sum = 0;
        std::size_t counted = 0;
        for (std::size_t k = first; k < end; ++k)
            if (points[k].value && std::isfinite(*points[k].value)) {
                sum += *points[k].value;
                ++counted;
            }
        if (counted)
            values.entries.push_back({static_cast<double>(b), sum / static_cast<double>(counted)});
    }
    if (buckets > 30)
        values.circleRadius = 0;
    for (std::size_t i = 1; i < styled.dataSets.size(); ++i) {
        auto& flat = styled.dataSets[i];
        const std::optional<double> level =
            flat.entries.empty() ? std::nullopt : std::optional<double>(flat.entries.front().y);
        flat.entries.clear();
        if (level && !points.empty())
            for (std::size_t b = 0; b < buckets; ++b)
                flat.entries.push_back({static_cast<double>(b), *level});
    }
    return styled;
}

std::shared_ptr<HistoryRecorder> HistoryRecorder::make(std::shared_ptr<AppStateController> controller,
                                                       std::filesystem::path file) {
    std::shared_ptr<HistoryRecorder> recorder(new HistoryRecorder(std::move(controller), std::move(file)));
    recorder->observe();
    return recorder;
}

HistoryRecorder::HistoryRecorder(std::shared_ptr<AppStateController> controller, std::filesystem::path file)
    : controller_(std::move(controller)),
      writer_(std::make_shared<Writer>(Writer{std::move(file), nullptr, false})),
      queue_(std::make_unique<joblark::DispatchQueue>("History Writer Queue")) {}

HistoryRecorder::~HistoryRecorder() {
    observers_.clear();
    queue_.reset(); // runs what is queued, then joins
}

HistoryStore* HistoryRecorder::Writer::open() {
    if (!store && !failed) {
        store = HistoryStore::open(file);
        failed = !store;
        if (store)
            store->prune();
    }
    return store.get();
}

void HistoryRecorder::observe() {
    auto& center = joblark::NotificationCenter::defaultCenter();
    const std::weak_ptr<HistoryRecorder> weak = weak_from_this();
    auto scheduleRecord = [weak](const joblark::Notification&) {
        // A sync announces both lists; one record of the state serves both.
        joblark::MainThread::runAsync([weak] {
            if (auto self = weak.lock(); self && self->recordPending_) {
                self->recordPending_ = false;
                self->recordState();
            }
        });
        if (auto self = weak.lock())
            self->recordPending_ = true;
    };
    for (auto name : {AppStateController::endpointsDidChange, AppStateController::measuresDidChange})
        observers_.push_back(center.addObserver(std::string(name), std::nullopt, scheduleRecord));
    observers_.push_back(center.addObserver(std::string(AppStateController::didLogout), std::nullopt,
                                            [weak](const joblark::Notification&) {
                                                auto self = weak.lock();
                                                if (!self)
                                                    return;
                                                self->recent_.clear();
                                                self->recordPending_ = false;
                                                self->queue_->async([writer = self->writer_] {
                                                    writer->store.reset();
                                                    HistoryStore::remove(writer->file);
                                                    writer->failed = false;
                                                });
                                            }));
}

void HistoryRecorder::recordState() {
    const auto& state = controller_->state;
    if (!state || !state->user || !controller_->isSignedIn())
        return;
    auto endpoints = state->endpoints.value_or(std::vector<std::shared_ptr<Endpoint>>{});
    auto measures = state->measures.value_or(std::vector<std::shared_ptr<Measure>>{});
    // Models are never changed once made, so the writer may read these lists while the state moves on.
    queue_->async([writer = writer_, endpoints = std::move(endpoints), measures = std::move(measures)] {
        if (auto* s = writer->open())
            s->record(endpoints, measures);
    });
}

void HistoryRecorder::uptime(const std::string& resourceId, std::function<void(UptimeSummary)> completion) {
    queue_->async([writer = writer_, resourceId, completion = std::move(completion)] {
        UptimeSummary summary;
        if (auto* s = writer->open()) {
            using namespace std::chrono;
            const joblark::Date now;
            summary = {s->uptime(resourceId, hours(24), now), s->uptime(resourceId, hours(24 * 7), now),
                       s->uptime(resourceId, hours(24 * 30), now)};
        }
        joblark::MainThread::runAsync([completion, summary] { completion(summary); });
    });
}

void HistoryRecorder::points(const std::string& resourceId, joblark::Date since,
                             std::function<void(std::vector<HistoryPoint>)> completion) {
    queue_->async([writer = writer_, resourceId, since, completion = std::move(completion)] {
        std::vector<HistoryPoint> found;
        if (auto* s = writer->open())
            found = s->points(resourceId, since);
        joblark::MainThread::runAsync(
            [completion, found = std::move(found)]() mutable { completion(std::move(found)); });
    });
}

const std::vector<HistoryPoint>* HistoryRecorder::recentEntries(const std::string& resourceId) const {
    const auto it = recent_.find(resourceId);
    return it == recent_.end() || it->second.empty() ? nullptr : &it->second;
}

void HistoryRecorder::loadRecentEntries(std::function<void()> completion) {
    std::vector<std::string> ids;
    if (const auto& state = controller_->state) {
        for (const auto& endpoint : state->endpoints.value_or(std::vector<std::shared_ptr<Endpoint>>{}))
            if (endpoint && endpoint->id)
                ids.push_back(*endpoint->id);
        for (const auto& measure : state->measures.value_or(std::vector<std::shared_ptr<Measure>>{}))
            if (measure && measure->id)
                ids.push_back(*measure->id);
    }
    const std::weak_ptr<HistoryRecorder> weak = weak_from_this();
    queue_->async([writer = writer_, weak, ids = std::move(ids), completion = std::move(completion)] {
        std::unordered_map<std::string, std::vector<HistoryPoint>> loaded;
        if (auto* s = writer->open())
            for (const auto& id : ids)
                if (auto entries = s->recent(id, 30); !entries.empty())
                    loaded.emplace(id, std::move(entries));
        joblark::MainThread::runAsync([weak, loaded = std::move(loaded), completion]() mutable {
            if (auto recorder = weak.lock()) {
                recorder->recent_ = std::move(loaded);
                joblark::NotificationCenter::defaultCenter().post(std::string(recentEntriesDidLoad));
            }
            if (completion)
                completion();
        });
    });
}

void HistoryRecorder::flush() {
    queue_->sync([] {});
}

} // namespace kestrova

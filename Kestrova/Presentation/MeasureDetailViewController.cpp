#include "Presentation/MeasureDetailViewController.hpp"

#include "Presentation/DetailTexts.hpp"

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <locale.h>

namespace kestrova {
namespace {

/// The value of a measurement the model counts as a number (whole text, C locale).
double measuredValue(const std::string& text) {
    static const locale_t cLocale = ::newlocale(LC_NUMERIC_MASK, "C", nullptr);
    return ::strtod_l(text.c_str(), nullptr, cLocale);
}

} // namespace

MeasureDetailViewController::MeasureDetailViewController(std::shared_ptr<AppStateController> controller)
    : controller_(std::move(controller)) {}

void MeasureDetailViewController::viewDidLoad() {
    title = measure && measure->name ? *measure->name : "Measure";
    updateView();
}

void MeasureDetailViewController::viewWillAppear() {
    observers_ = detail::observeDetail(
        *this, AppStateController::measuresDidChange,
        [](ViewController& self) { static_cast<MeasureDetailViewController&>(self).refreshFromState(); },
        [](ViewController& self) { static_cast<MeasureDetailViewController&>(self).observers_.clear(); });
}

void MeasureDetailViewController::viewDidDisappear() {
    observers_.clear();
}

std::string MeasureDetailViewController::configurationText(const Measure* measure) {
    if (!measure || !measure->criteria || measure->criteria->empty())
        return "";
    std::string text;
    for (std::size_t i = 0; i < measure->criteria->size(); ++i) {
        const auto& criteria = (*measure->criteria)[i];
        text += (i ? "\nAND " : "") + (criteria ? criteria->summaryText() : Criteria().summaryText());
    }
    return text;
}

std::string MeasureDetailViewController::recentBehaviorText(const Measure* measure) {
    if (!measure)
        return ".";
    const auto& history = measure->history;
    std::size_t ok = 0;
    if (history)
        ok = static_cast<std::size_t>(
            std::count_if(history->begin(), history->end(), [](const auto& assessment) {
                return assessment && assessment->status == Assessment::Status::ok;
            }));
    std::optional<std::string> lastError;
    if (measure->lastAssessmentMessage && !measure->lastAssessmentMessage->empty())
        lastError = measure->lastAssessmentMessage;
    return detail::recentBehaviorText("measure", history.has_value(), ok, history ? history->size() : 0,
                                      lastError);
}

std::optional<LineChartData> MeasureDetailViewController::chartData(const Measure* measure) {
    if (!measure || !measure->hasNumericMeasurements())
        return std::nullopt;
    LineChartDataSet values;
    values.label = "Measurement Value";
    values.color = values.circleColor = Color::systemBlue;
    values.fill = Color::systemBlue;
    values.lineWidth = 2;
    values.circleRadius = 4;
    values.mode = ChartDrawingMode::cubic;
    const auto& history = *measure->history;
    // Oldest first; a measurement that is not a number leaves a gap at its position. Infinite and
    // NaN readings ("inf", "nan" read as numbers) would wreck the axes, so they are gaps too.
    for (std::size_t k = 0; k < history.size(); ++k) {
        const auto& assessment = history[history.size() - 1 - k];
        if (!assessment || !assessment->measurement ||
            !Measure::isNumericMeasurement(*assessment->measurement))
            continue;
        const double value = measuredValue(*assessment->measurement);
        if (std::isfinite(value))
            values.entries.push_back({static_cast<double>(k), value});
    }
    LineChartData data;
    data.dataSets = {std::move(values)};
    data.drawValues = false;
    return data;
}

void MeasureDetailViewController::updateView() {
    const Measure* m = measure.get();
    if (auto s = statusSwitch.lock())
        s->setOn(m && m->status == Measure::Status::active);
    if (auto s = publicSwitch.lock())
        s->setOn(m && m->isPublic == true);
    detail::showPublicContainer(publicContainerView, controller_->state);
    if (auto label = configurationDescriptionLabel.lock()) {
        const std::string text = configurationText(m);
        label->setText(text.empty() ? std::nullopt : std::optional<std::string>(text));
    }
    auto chart = chartView.lock();
    auto container = chartContainerView.lock();
    if (auto data = chartData(m)) {
        if (chart) {
            chart->setData(std::move(*data));
            chart->setHidden(false);
        }
        if (container)
            container->setHidden(false);
    } else {
        // The chart keeps its last data while hidden.
        if (chart)
            chart->setHidden(true);
        if (container)
            container->setHidden(true);
    }
    if (auto label = recentBehaviorLabel.lock())
        label->setText(recentBehaviorText(m));
    if (auto label = timestampsLabel.lock())
        label->setText(m ? detail::timestampsText(m->updatedAt, m->createdAt) : std::string());
}

void MeasureDetailViewController::refreshFromState() {
    if (measure && measure->id)
        refreshFromState(*measure->id, false);
}

void MeasureDetailViewController::refreshFromState(const std::string& id, bool keepWhenMissing) {
    std::shared_ptr<Measure> found;
    if (const auto& state = controller_->state; state && state->measures)
        for (const auto& candidate : *state->measures)
            if (candidate && candidate->id == id) {
                found = candidate;
                break;
            }
    if (found || !keepWhenMissing)
        measure = found;
    updateView();
}

void MeasureDetailViewController::update(std::optional<bool> isPublic,
                                         std::optional<Measure::Status> status) {
    if (!measure || !measure->url || !measure->id)
        return;
    const auto weak = weakAs<MeasureDetailViewController>();
    controller_->updateMeasure(*measure->url, isPublic, status,
                               [weak, id = *measure->id](bool, joblark::ErrorPtr) {
                                   if (auto self = weak.lock())
                                       self->refreshFromState(id, true);
                               });
}

void MeasureDetailViewController::statusSwitchWasChanged() {
    if (auto s = statusSwitch.lock())
        update(std::nullopt, s->isOn() ? Measure::Status::active : Measure::Status::inactive);
}

void MeasureDetailViewController::publicSwitchWasChanged() {
    if (auto s = publicSwitch.lock())
        update(s->isOn(), std::nullopt);
}

} // namespace kestrova

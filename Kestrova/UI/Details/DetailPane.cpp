#include "UI/Details/DetailPane.hpp"

#include "joblark/Foundation/MainThread.hpp"

#include <QHBoxLayout>

#include <algorithm>
#include <chrono>

namespace kestrova::ui {

void CaptionedChartBinding::setData(LineChartData data) {
    if (route)
        route(std::move(data));
    else
        show(std::move(data));
}

void CaptionedChartBinding::show(LineChartData data) {
    if (caption_) {
        QStringList names;
        for (const auto& set : data.dataSets)
            names << toQString(set.label);
        caption_->setText(names.join(QStringLiteral("  ·  ")));
    }
    ChartBinding::setData(std::move(data));
}

DetailPane::DetailPane(std::shared_ptr<AppContext> context, QWidget* parent)
    : QScrollArea(parent), context_(std::move(context)), page_(new QWidget), layout_(new QVBoxLayout(page_)),
      title_(new QLabel(page_)), uptime_(new QLabel(page_)), chartContainer_(new QWidget(page_)),
      chartCaption_(new QLabel(chartContainer_)), chart_(new LineChartView(chartContainer_)),
      range_(new QComboBox(chartContainer_)) {
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    layout_->setContentsMargins(24, 20, 24, 20);
    layout_->setSpacing(10);
    QFont big = title_->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.7);
    title_->setFont(big);
    title_->setWordWrap(true);
    title_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    title_->setObjectName(QStringLiteral("detailTitle"));
    layout_->addWidget(title_);

    uptime_->setObjectName(QStringLiteral("uptime"));
    uptime_->setAccessibleName(tr("Uptime"));
    uptime_->hide(); // until the history answers

    auto* chartLayout = new QVBoxLayout(chartContainer_);
    chartLayout->setContentsMargins(0, 6, 0, 0);
    chartLayout->setSpacing(2);
    QFont small = chartCaption_->font();
    small.setPointSizeF(small.pointSizeF() * 0.9);
    chartCaption_->setFont(small);
    chartCaption_->setForegroundRole(QPalette::PlaceholderText);
    chart_->setMinimumHeight(220);
    for (auto title : chartRangeTitles)
        range_->addItem(toQString(std::string(title)));
    range_->setAccessibleName(tr("Chart range"));
    range_->setObjectName(QStringLiteral("chartRange"));
    auto* captionRow = new QHBoxLayout;
    captionRow->addWidget(chartCaption_, 1);
    captionRow->addWidget(range_);
    chartLayout->addLayout(captionRow);
    connect(range_, &QComboBox::currentIndexChanged, this, [this] { showChartRange(); });
    chartLayout->addWidget(chart_);
    setWidget(page_); // owns the page
}

DetailPane::~DetailPane() {
    observers_.clear();
}

void DetailPane::setTitle(const std::string& title) {
    title_->setText(toQString(title));
    title_->setAccessibleName(title_->text());
}

QLabel* DetailPane::addText(const QString& caption, const QString& accessibleName) {
    if (!caption.isEmpty()) {
        auto* heading = new QLabel(caption, page_);
        QFont bold = heading->font();
        bold.setBold(true);
        heading->setFont(bold);
        layout_->addSpacing(4);
        layout_->addWidget(heading);
    }
    auto* text = new QLabel(page_);
    text->setWordWrap(true);
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    text->setAccessibleName(accessibleName);
    layout_->addWidget(text);
    return text;
}

QWidget* DetailPane::addSwitch(const QString& caption, ToggleSwitch*& made) {
    auto* row = new QWidget(page_);
    auto* rowLayout = new QHBoxLayout(row);
    rowLayout->setContentsMargins(0, 2, 0, 2);
    auto* label = new QLabel(caption, row);
    made = new ToggleSwitch(row);
    made->setAccessibleName(caption);
    label->setBuddy(made);
    rowLayout->addWidget(label, 1);
    rowLayout->addWidget(made);
    layout_->addWidget(row);
    return row;
}

void DetailPane::followUptime(std::string resourceId, std::string_view notification) {
    resourceId_ = std::move(resourceId);
    if (!context_->history || resourceId_.empty())
        return;
    requestUptime();
    showChartRange();
    QPointer<DetailPane> self(this);
    observers_.push_back(joblark::NotificationCenter::defaultCenter().addObserver(
        std::string(notification), std::nullopt, [self](const joblark::Notification&) {
            // Posted after the recorder's own turn, so the history already holds this change.
            joblark::MainThread::runAsync([self] {
                if (self)
                    self->requestUptime();
            });
        }));
}

std::shared_ptr<CaptionedChartBinding> DetailPane::makeChartBinding() {
    auto binding = keep(std::make_shared<CaptionedChartBinding>(chart_, chartCaption_));
    QPointer<DetailPane> self(this);
    binding->route = [self](LineChartData fromScreen) {
        if (!self)
            return;
        self->screenChart_ = std::move(fromScreen);
        self->showChartRange();
    };
    chartBinding_ = binding;
    return binding;
}

void DetailPane::showChartRange() {
    auto binding = chartBinding_.lock();
    if (!binding)
        return;
    const auto range = static_cast<ChartRange>(std::max(0, range_->currentIndex()));
    const auto window = chartRangeWindow(range);
    if (!window || !context_->history || resourceId_.empty()) {
        binding->show(screenChart_);
        return;
    }
    QPointer<DetailPane> self(this);
    const joblark::Date since = joblark::Date().addingTimeInterval(
        -static_cast<double>(std::chrono::duration_cast<std::chrono::seconds>(*window).count()));
    context_->history->points(resourceId_, since,
                              [self, range, styled = screenChart_](std::vector<HistoryPoint> points) {
                                  // A range chosen since, or another resource, has its own answer coming.
                                  if (!self || self->range_->currentIndex() != static_cast<int>(range))
                                      return;
                                  if (auto b = self->chartBinding_.lock())
                                      b->show(historyChart(styled, points));
                              });
}

void DetailPane::requestUptime() {
    QPointer<DetailPane> self(this);
    context_->history->uptime(resourceId_, [self](UptimeSummary summary) {
        if (!self)
            return;
        self->uptime_->setText(toQString(uptimeSummaryText(summary)));
        self->uptime_->setVisible(summary.day || summary.week || summary.month);
    });
}

} // namespace kestrova::ui

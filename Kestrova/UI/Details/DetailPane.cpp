#include "UI/Details/DetailPane.hpp"

#include "joblark/Foundation/MainThread.hpp"

#include <QHBoxLayout>

namespace kestrova::ui {

void CaptionedChartBinding::setData(LineChartData data) {
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
      chartCaption_(new QLabel(chartContainer_)), chart_(new LineChartView(chartContainer_)) {
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
    chartLayout->addWidget(chartCaption_);
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

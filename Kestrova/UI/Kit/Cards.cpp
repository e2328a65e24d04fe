#include "UI/Kit/Cards.hpp"

#include "UI/Desktop/StatusGlyph.hpp"
#include "UI/Kit/Palette.hpp"
#include "UI/Kit/SnapshotListModel.hpp"
#include "UI/Kit/Views.hpp"

#include <QEvent>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include <algorithm>

namespace kestrova::ui {

// --- history bar ------------------------------------------------------------------------------------

void paintHistoryBar(QPainter& painter, const QRectF& rect, const HistoryBar& bar, const QPalette& palette) {
    const auto& slots = bar.slots();
    const auto visible = static_cast<std::size_t>(
        std::count_if(slots.begin(), slots.end(), [](const HistoryBar::Slot& slot) { return !slot.hidden; }));
    if (visible == 0 || rect.width() <= 0)
        return;
    const double spacing = HistoryBar::spacing;
    const double width =
        (rect.width() - spacing * static_cast<double>(visible - 1)) / static_cast<double>(visible);
    if (width <= 0)
        return;
    QColor unknownTileOutline = palette.color(QPalette::Text);
    unknownTileOutline.setAlphaF(0.45);
    painter.save();
    double x = rect.left();
    for (const auto& slot : slots) {
        if (slot.hidden)
            continue;
        // Shaped by status as well as coloured (StatusGlyph.hpp), so the bar reads in greyscale.
        if (slot.entry)
            paintStatusTile(painter, QRectF(x, rect.top(), width, rect.height()), slot.entry->tileColor,
                            color(slot.entry->tileColor, palette), unknownTileOutline);
        x += width + spacing;
    }
    painter.restore();
}

HistoryBarWidget::HistoryBarWidget(QWidget* parent) : QWidget(parent) {
    setMinimumHeight(10);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void HistoryBarWidget::setBar(const HistoryBar& bar) {
    bar_ = bar;
    std::size_t tiles = 0;
    for (const auto& slot : bar_.slots())
        tiles += slot.entry ? 1 : 0;
    setAccessibleName(tr("History"));
    setAccessibleDescription(tr("%n recent results", nullptr, static_cast<int>(tiles)));
    update();
}

void HistoryBarWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paintHistoryBar(painter, QRectF(rect()), bar_, palette());
}

// --- the overview list's card -------------------------------------------------------------------------

namespace {

constexpr int cardMargin = 6;   // between cards and to the list's edges
constexpr int cardPadding = 10; // inside a card
constexpr int barHeight = 14;

QColor secondaryText(const QPalette& palette) {
    QColor text = palette.color(QPalette::Text);
    text.setAlphaF(0.68);
    return text;
}

} // namespace

QSize CardDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    // Fixed heights: a long list lays out without configuring a single card.
    const bool header = index.data(SnapshotListModel::IsSectionRole).toBool();
    return {option.rect.width(), header ? headerHeight : cardHeight};
}

void CardDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                         const QModelIndex& index) const {
    const auto* model = qobject_cast<const SnapshotListModel*>(index.model());
    const QPalette& palette = option.palette;
    if (!model || model->isSection(index)) {
        painter->save();
        QFont font = option.font;
        font.setBold(true);
        painter->setFont(font);
        painter->setPen(secondaryText(palette));
        const QRect text = option.rect.adjusted(cardMargin + 4, 0, -cardMargin, -4);
        painter->drawText(
            text, Qt::AlignLeft | Qt::AlignBottom,
            painter->fontMetrics().elidedText(index.data().toString(), Qt::ElideRight, text.width()));
        painter->restore();
        return;
    }
    auto card = std::dynamic_pointer_cast<CardCell>(model->cell(index));
    ++cardsPainted_;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const QRectF frame =
        QRectF(option.rect).adjusted(cardMargin, cardMargin / 2.0, -cardMargin, -cardMargin / 2.0);
    const bool selected = option.state & QStyle::State_Selected;
    QColor background = selected ? palette.color(QPalette::Highlight) : palette.color(QPalette::Base);
    painter->setPen(selected ? Qt::NoPen : QPen(palette.color(QPalette::Mid), 1));
    painter->setBrush(background);
    painter->drawRoundedRect(frame.adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
    if (option.state & QStyle::State_HasFocus && !selected) {
        painter->setPen(QPen(palette.color(QPalette::Highlight), 1.5));
        painter->setBrush(Qt::NoBrush);
        painter->drawRoundedRect(frame.adjusted(1, 1, -1, -1), 7, 7);
    }
    if (!card) {
        painter->restore();
        return; // a row whose resource is gone: an empty card
    }

    const QRectF content = frame.adjusted(cardPadding, cardPadding - 2, -cardPadding, -cardPadding);
    // The card decides what fits: under 250 px only the uptime and the newest half of the bar.
    card->layoutSubviews(option.rect.width());

    QFont nameFont = option.font;
    nameFont.setBold(true);
    const QColor text = selected ? palette.color(QPalette::HighlightedText) : palette.color(QPalette::Text);
    QColor detail = selected ? palette.color(QPalette::HighlightedText) : secondaryText(palette);
    const QFontMetricsF nameMetrics(nameFont);
    const QFontMetricsF detailMetrics(option.font);

    painter->setFont(nameFont);
    painter->setPen(text);
    QRectF line(content.left(), content.top(), content.width(), nameMetrics.height());
    painter->drawText(
        line, Qt::AlignLeft | Qt::AlignVCenter,
        nameMetrics.elidedText(toQString(card->nameText.value_or("")), Qt::ElideRight, line.width()));

    painter->setFont(option.font);
    painter->setPen(detail);
    line = QRectF(content.left(), line.bottom() + 2, content.width(), detailMetrics.height());
    painter->drawText(line, Qt::AlignLeft | Qt::AlignVCenter,
                      detailMetrics.elidedText(toQString(card->overviewLabelText.value_or("")),
                                               Qt::ElideRight, line.width()));

    const QRectF bar(content.left(), content.bottom() - barHeight, content.width(), barHeight);
    const auto& slots = card->historyBar.slots();
    const bool hasTiles = std::any_of(slots.begin(), slots.end(),
                                      [](const HistoryBar::Slot& slot) { return slot.entry.has_value(); });
    if (selected && hasTiles) {
        // Tiles on the highlight keep their colours; a faint well keeps them apart from it.
        painter->setPen(Qt::NoPen);
        painter->setBrush(palette.color(QPalette::Base));
        painter->drawRoundedRect(bar.adjusted(-3, -3, 3, 3), 6, 6);
    }
    paintHistoryBar(*painter, bar, card->historyBar, palette);
    painter->restore();
}

CardListView::CardListView(QWidget* parent) : QTreeView(parent), delegate_(new CardDelegate(this)) {
    setItemDelegate(delegate_);
    setHeaderHidden(true);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setIndentation(0);
    setUniformRowHeights(false);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setFrameShape(QFrame::NoFrame);
    setAccessibleName(tr("Endpoints and measures"));
}

void CardListView::setModel(QAbstractItemModel* model) {
    if (this->model())
        disconnect(this->model(), nullptr, this, nullptr);
    QTreeView::setModel(model);
    if (!model)
        return;
    expandAll();
    // New sections open expanded: their cards are the list.
    connect(model, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex& parent, int first, int last) {
                if (parent.isValid())
                    return;
                for (int row = first; row <= last; ++row)
                    expand(this->model()->index(row, 0));
            });
    connect(model, &QAbstractItemModel::modelReset, this, &QTreeView::expandAll);
}

// --- the grid's card ------------------------------------------------------------------------------

OverviewCardWidget::OverviewCardWidget(QWidget* parent)
    : QFrame(parent), title_(new QLabel(this)), summary_(new QLabel(this)), description_(new QLabel(this)),
      bar_(new HistoryBarWidget(this)) {
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Base);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    auto* layout = new QVBoxLayout(this); // owned by the card
    layout->setContentsMargins(12, 10, 12, 10);
    layout->setSpacing(3);
    QFont titleFont = title_->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.1);
    title_->setFont(titleFont);
    for (auto* label : {title_, summary_, description_}) {
        label->setTextInteractionFlags(Qt::NoTextInteraction);
        layout->addWidget(label);
    }
    layout->addStretch(1);
    layout->addWidget(bar_);
}

void OverviewCardWidget::showCell(const EndpointOverviewCell& cell) {
    title_->setText(toQString(cell.titleText.value_or("")));
    summary_->setText(toQString(cell.summaryText.value_or("")));
    summary_->setHidden(!cell.summaryText);
    QFont summaryFont = summary_->font();
    summaryFont.setBold(cell.summaryBold);
    summary_->setFont(summaryFont);
    summaryColor_ = cell.summaryColor;
    colourSummary();
    description_->setText(toQString(cell.descriptionText.value_or("")));
    bar_->setBar(cell.historyBar);
    QStringList spoken{title_->text()};
    if (cell.summaryText)
        spoken << summary_->text();
    spoken << description_->text();
    setAccessibleName(spoken.join(QStringLiteral(", ")));
}

void OverviewCardWidget::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        Q_EMIT clicked();
    QFrame::mouseReleaseEvent(event);
}

void OverviewCardWidget::changeEvent(QEvent* event) {
    QFrame::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        colourSummary();
}

void OverviewCardWidget::colourSummary() {
    // The card's labels sit on its Base background, so they draw with the Text role.
    QPalette palette = summary_->palette();
    const QColor wanted = color(summaryColor_, this->palette());
    palette.setColor(QPalette::WindowText, wanted);
    palette.setColor(QPalette::Text, wanted);
    summary_->setPalette(palette);
}

// --- badge --------------------------------------------------------------------------------------------

BadgeWidget::BadgeWidget(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void BadgeWidget::setBadge(const QString& title, Color background) {
    title_ = title;
    background_ = background;
    setAccessibleName(title);
    updateGeometry();
    update();
}

namespace {
// The status glyph before a badge's title: the text's height, and a gap after it.
int badgeGlyphWidth(const QFontMetrics& metrics, Color background) {
    return glyphForStatusColor(background) == StatusGlyph::none ? 0 : metrics.ascent() + 4;
}
} // namespace

QSize BadgeWidget::sizeHint() const {
    const QFontMetrics metrics(font());
    const int width =
        std::max(static_cast<int>(Badge::minimumWidth),
                 metrics.horizontalAdvance(title_) + badgeGlyphWidth(metrics, background_) + 20);
    return {width, metrics.height() + 8};
}

void BadgeWidget::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        updateGeometry(); // the width follows the text
}

void BadgeWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor fill = color(background_, palette());
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(QRectF(rect()), Badge::cornerRadius, Badge::cornerRadius);
    const QColor ink = textColorOn(fill);
    const int glyph = badgeGlyphWidth(fontMetrics(), background_);
    const QString text = fontMetrics().elidedText(title_, Qt::ElideRight, width() - 12 - glyph);
    // Glyph and title centred together.
    const int content = glyph + fontMetrics().horizontalAdvance(text);
    const int left = std::max(6, (width() - content) / 2);
    if (glyph)
        paintStatusGlyph(
            painter,
            QRectF(left, (height() - fontMetrics().ascent()) / 2.0, glyph - 4, fontMetrics().ascent()),
            glyphForStatusColor(background_), ink);
    painter.setPen(ink);
    painter.drawText(QRect(left + glyph, 0, width() - left - glyph, height()),
                     Qt::AlignLeft | Qt::AlignVCenter, text);
}

void BadgeBinding::showBadge(const std::string& title, Color background) {
    if (widget_)
        widget_->setBadge(toQString(title), background);
}

// --- the grid's layout ----------------------------------------------------------------------------

CenteredFlowLayout::CenteredFlowLayout(QWidget* parent, double spacing) : QLayout(parent) {
    geometry_.minimumInteritemSpacing = spacing;
    geometry_.minimumLineSpacing = spacing;
    geometry_.sectionInsetTop = geometry_.sectionInsetBottom = spacing;
    geometry_.sectionInsetLeft = geometry_.sectionInsetRight =
        CenterTopAlignedCollectionViewFlowLayout::leftMargin;
}

CenteredFlowLayout::~CenteredFlowLayout() = default;

void CenteredFlowLayout::addItem(QLayoutItem* item) {
    items_.emplace_back(item); // QLayout's contract: the layout owns what it is given
    invalidate();
}

QLayoutItem* CenteredFlowLayout::itemAt(int index) const {
    return index >= 0 && static_cast<std::size_t>(index) < items_.size()
               ? items_[static_cast<std::size_t>(index)].get()
               : nullptr;
}

QLayoutItem* CenteredFlowLayout::takeAt(int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= items_.size())
        return nullptr;
    auto taken = std::move(items_[static_cast<std::size_t>(index)]);
    items_.erase(items_.begin() + index);
    invalidate();
    return taken.release(); // the caller owns it now
}

std::vector<LayoutAttributes> CenteredFlowLayout::frames(int width) const {
    std::vector<Size> sizes;
    sizes.reserve(items_.size());
    for (const auto& item : items_) {
        const QSize hint = item->isEmpty() ? QSize(0, 0) : item->sizeHint();
        sizes.push_back({static_cast<double>(hint.width()), static_cast<double>(hint.height())});
    }
    return geometry_.layoutAttributesForElements(sizes, width);
}

int CenteredFlowLayout::heightForWidth(int width) const {
    return static_cast<int>(std::ceil(geometry_.contentHeight(frames(width))));
}

QSize CenteredFlowLayout::sizeHint() const {
    return minimumSize();
}

QSize CenteredFlowLayout::minimumSize() const {
    QSize size;
    for (const auto& item : items_)
        size = size.expandedTo(item->sizeHint());
    const int inset = static_cast<int>(CenterTopAlignedCollectionViewFlowLayout::leftMargin * 2);
    return size + QSize(inset, static_cast<int>(geometry_.sectionInsetTop + geometry_.sectionInsetBottom));
}

void CenteredFlowLayout::setGeometry(const QRect& rect) {
    QLayout::setGeometry(rect);
    const auto laidOut = frames(rect.width());
    for (std::size_t i = 0; i < items_.size() && i < laidOut.size(); ++i) {
        const Rect& f = laidOut[i].frame;
        items_[i]->setGeometry(QRect(rect.x() + static_cast<int>(std::lround(f.x)),
                                     rect.y() + static_cast<int>(std::lround(f.y)), static_cast<int>(f.width),
                                     static_cast<int>(f.height)));
    }
}

} // namespace kestrova::ui

#pragma once

// How the core's cards look: the overview list's card painted by a delegate (no widget per row),
// the dashboard grid's card and the history bar as small widgets, the status badge, and the grid's
// layout on the core's flow geometry.

#include "Presentation/Cards.hpp"
#include "Presentation/CollectionLayout.hpp"

#include <QFrame>
#include <QLabel>
#include <QLayout>
#include <QPointer>
#include <QStyledItemDelegate>
#include <QTreeView>

#include <cstddef>
#include <memory>
#include <vector>

namespace kestrova::ui {

/// Draws the visible slots of `bar` across `rect`: equal widths, 4 px apart, tiles rounded 4 px,
/// placeholders empty. Hidden slots take no room (a narrow card's bar shows its 15 newest at full width).
void paintHistoryBar(QPainter& painter, const QRectF& rect, const HistoryBar& bar, const QPalette& palette);

/// Paints the overview list: section titles, and cards from the model's CardCell after
/// layoutSubviews at the row's width (the narrow rule), with the selection highlight.
class CardDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    static constexpr int cardHeight = 84;
    static constexpr int headerHeight = 30;

    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    /// Cards painted since the last reset (headers not counted): what a repaint cost.
    std::size_t cardsPainted() const { return cardsPainted_; }
    void resetCardsPainted() { cardsPainted_ = 0; }

private:
    mutable std::size_t cardsPainted_ = 0;
};

/// The overview list's view: a tree of sections and cards, always expanded, no branch decorations.
class CardListView : public QTreeView {
    Q_OBJECT
public:
    explicit CardListView(QWidget* parent = nullptr);
    void setModel(QAbstractItemModel* model) override;
    CardDelegate* cardDelegate() const { return delegate_; }

private:
    CardDelegate* delegate_;
};

/// A history bar as a widget (the grid's cards).
class HistoryBarWidget : public QWidget {
    Q_OBJECT
public:
    explicit HistoryBarWidget(QWidget* parent = nullptr);
    void setBar(const HistoryBar& bar);
    const HistoryBar& bar() const { return bar_; }
    QSize sizeHint() const override { return {240, 14}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    HistoryBar bar_;
};

/// The dashboard grid's card: title, status summary, when it was last checked, history bar.
class OverviewCardWidget : public QFrame {
    Q_OBJECT
public:
    explicit OverviewCardWidget(QWidget* parent = nullptr);
    /// Shows what the core's cell decided.
    void showCell(const EndpointOverviewCell& cell);
    QSize sizeHint() const override { return {260, 96}; }

    QLabel* titleLabel() const { return title_; }
    QLabel* summaryLabel() const { return summary_; }
    QLabel* descriptionLabel() const { return description_; }
    HistoryBarWidget* historyBar() const { return bar_; }

Q_SIGNALS:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void colourSummary();
    QLabel* title_;
    QLabel* summary_;
    QLabel* description_;
    HistoryBarWidget* bar_;
    Color summaryColor_ = Color::label;
};

/// A small rounded label coloured by status, at least 44 px wide.
class BadgeWidget : public QWidget {
    Q_OBJECT
public:
    explicit BadgeWidget(QWidget* parent = nullptr);
    void setBadge(const QString& title, Color background);
    QString title() const { return title_; }
    Color background() const { return background_; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QString title_;
    Color background_ = Color::systemGreen;
};

/// The core's Badge drawn by a BadgeWidget; hand `std::shared_ptr<BadgeBinding>` to Badge::view.
class BadgeBinding : public BadgeView {
public:
    explicit BadgeBinding(BadgeWidget* widget) : widget_(widget) {}
    void showBadge(const std::string& title, Color background) override;

private:
    QPointer<BadgeWidget> widget_;
};

/// Lays its items out with CenterTopAlignedCollectionViewFlowLayout at their size hints: rows
/// centred, cells top-aligned; the height follows the width.
class CenteredFlowLayout : public QLayout {
    Q_OBJECT
public:
    explicit CenteredFlowLayout(QWidget* parent = nullptr, double spacing = 10);
    ~CenteredFlowLayout() override;

    void addItem(QLayoutItem* item) override;
    int count() const override { return static_cast<int>(items_.size()); }
    QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;
    QSize sizeHint() const override;
    QSize minimumSize() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    void setGeometry(const QRect& rect) override;
    Qt::Orientations expandingDirections() const override { return {}; }

private:
    std::vector<LayoutAttributes> frames(int width) const;
    std::vector<std::unique_ptr<QLayoutItem>> items_;
    CenterTopAlignedCollectionViewFlowLayout geometry_;
};

} // namespace kestrova::ui

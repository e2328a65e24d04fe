#pragma once

// The dashboard grid's geometry, as pure functions over rectangles: a flow layout (items left to
// right in rows) and the grid's own adjustment of it (rows centred, cells top-aligned).

#include <vector>

namespace kestrova {

struct Rect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
    double maxX() const { return x + width; }
    double maxY() const { return y + height; }
    bool operator==(const Rect&) const = default;
};

struct Size {
    double width = 0;
    double height = 0;
    bool operator==(const Size&) const = default;
};

struct LayoutAttributes {
    enum class Category { cell, supplementaryView, decorationView };
    Rect frame;
    Category representedElementCategory = Category::cell;
    bool operator==(const LayoutAttributes&) const = default;
};

/// Items in rows from the left, wrapping when the next one does not fit; each row as tall as its
/// tallest item, its items centred vertically in it.
class CollectionViewFlowLayout {
public:
    virtual ~CollectionViewFlowLayout() = default;

    double minimumInteritemSpacing = 10;
    double minimumLineSpacing = 10;
    double sectionInsetTop = 0, sectionInsetLeft = 0, sectionInsetBottom = 0, sectionInsetRight = 0;

    /// The frames of items of these sizes in a view `collectionWidth` points wide.
    virtual std::vector<LayoutAttributes> layoutAttributesForElements(const std::vector<Size>& itemSizes,
                                                                      double collectionWidth) const;
    /// The height the items need.
    double contentHeight(const std::vector<LayoutAttributes>& attributes) const;
};

/// The grid's layout: rows centred in the view, each row's cells aligned to the top of its tallest
/// cell. Supplementary and decoration elements are returned unchanged.
class CenterTopAlignedCollectionViewFlowLayout : public CollectionViewFlowLayout {
public:
    static constexpr double leftMargin = 8.0;

    std::vector<LayoutAttributes> layoutAttributesForElements(const std::vector<Size>& itemSizes,
                                                              double collectionWidth) const override;
    /// The adjustment alone, over attributes a flow layout produced.
    std::vector<LayoutAttributes> adjust(std::vector<LayoutAttributes> attributes,
                                         double collectionWidth) const;
};

} // namespace kestrova

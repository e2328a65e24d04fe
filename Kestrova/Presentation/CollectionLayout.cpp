#include "Presentation/CollectionLayout.hpp"

#include <algorithm>
#include <numeric>

namespace kestrova {

std::vector<LayoutAttributes>
CollectionViewFlowLayout::layoutAttributesForElements(const std::vector<Size>& itemSizes,
                                                      double collectionWidth) const {
    std::vector<LayoutAttributes> attributes(itemSizes.size());
    const double left = sectionInsetLeft;
    const double right = collectionWidth - sectionInsetRight;
    double x = left;
    double y = sectionInsetTop;
    std::size_t rowStart = 0;
    double rowHeight = 0;
    auto finishRow = [&](std::size_t end) {
        for (std::size_t i = rowStart; i < end; ++i)
            attributes[i].frame.y = y + (rowHeight - attributes[i].frame.height) / 2;
    };
    for (std::size_t i = 0; i < itemSizes.size(); ++i) {
        const Size size = itemSizes[i];
        // A row always takes its first item, however wide.
        if (i > rowStart && x + size.width > right) {
            finishRow(i);
            y += rowHeight + minimumLineSpacing;
            x = left;
            rowStart = i;
            rowHeight = 0;
        }
        attributes[i].frame = {x, 0, size.width, size.height};
        rowHeight = std::max(rowHeight, size.height);
        x += size.width + minimumInteritemSpacing;
    }
    finishRow(itemSizes.size());
    return attributes;
}

double CollectionViewFlowLayout::contentHeight(const std::vector<LayoutAttributes>& attributes) const {
    double bottom = 0;
    for (const auto& a : attributes)
        bottom = std::max(bottom, a.frame.maxY());
    return attributes.empty() ? 0 : bottom + sectionInsetBottom;
}

std::vector<LayoutAttributes>
CenterTopAlignedCollectionViewFlowLayout::layoutAttributesForElements(const std::vector<Size>& itemSizes,
                                                                      double collectionWidth) const {
    return adjust(CollectionViewFlowLayout::layoutAttributesForElements(itemSizes, collectionWidth),
                  collectionWidth);
}

std::vector<LayoutAttributes>
CenterTopAlignedCollectionViewFlowLayout::adjust(std::vector<LayoutAttributes> attributes,
                                                 double collectionWidth) const {
    struct Row {
        double start = leftMargin;
        double end = 0;
    };
    const double spacing = minimumInteritemSpacing;
    auto isCell = [](const LayoutAttributes& a) {
        return a.representedElementCategory == LayoutAttributes::Category::cell;
    };

    // Row pass: where each row starts and ends when packed from the left margin.
    std::vector<Row> rows;
    double lowestBottom = -1;
    double x = leftMargin;
    for (auto& a : attributes) {
        if (!isCell(a))
            continue;
        if (lowestBottom <= a.frame.y) {
            x = leftMargin;
            rows.push_back(Row{});
        }
        a.frame.x = x;
        x += a.frame.width + spacing;
        lowestBottom = std::max(lowestBottom, a.frame.maxY());
        rows.back().end = x - spacing;
    }

    // Centring pass, top-aligning each row once it is complete.
    auto topAlign = [](std::vector<LayoutAttributes*>& row) {
        if (row.empty())
            return;
        std::vector<LayoutAttributes*> byHeight = row;
        std::stable_sort(byHeight.begin(), byHeight.end(),
                         [](const auto* a, const auto* b) { return a->frame.height < b->frame.height; });
        const double top = byHeight.back()->frame.y;
        for (auto* a : row)
            a->frame.y = top;
        row.clear();
    };
    std::vector<LayoutAttributes*> row;
    lowestBottom = -1;
    std::size_t rowIndex = 0;
    for (auto& a : attributes) {
        if (!isCell(a))
            continue;
        if (lowestBottom <= a.frame.y) {
            topAlign(row);
            const Row& r = rows[rowIndex++];
            x = leftMargin + (collectionWidth - leftMargin - (r.end - r.start) - leftMargin) * 0.5;
        }
        a.frame.x = x;
        x += a.frame.width + spacing;
        lowestBottom = std::max(lowestBottom, a.frame.maxY());
        row.push_back(&a);
    }
    topAlign(row);
    return attributes;
}

} // namespace kestrova

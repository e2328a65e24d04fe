#include "Presentation/ListReconciliation.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <string>
#include <utility>

template <>
struct std::hash<std::pair<std::string, int>> {
    std::size_t operator()(const std::pair<std::string, int>& p) const noexcept {
        return std::hash<std::string>{}(p.first) ^ static_cast<std::size_t>(p.second);
    }
};

namespace kestrova {
namespace {

using joblark::IndexPath;
using Kind = ListStep::Kind;

} // namespace

void PrintTo(const ListStep& step, std::ostream* out) {
    *out << "{kind " << static_cast<int>(step.kind) << ", section " << step.section << ", first "
         << step.first << ", count " << step.count << ", to " << step.to << "}";
}

namespace {

// A list as a toolkit model holds it: rows carry a key and the content they show.
struct Row {
    std::string key;
    int content = 0;
    bool operator==(const Row&) const = default;
};
struct Section {
    std::string key;
    std::vector<Row> rows;
    bool operator==(const Section&) const = default;
};
using List = std::vector<Section>;

KeyedList keysOf(const List& list) {
    KeyedList keyed;
    for (const auto& section : list) {
        keyed.sectionKeys.push_back(section.key);
        auto& rows = keyed.rowKeys.emplace_back();
        for (const auto& row : section.rows)
            rows.push_back(row.key);
    }
    return keyed;
}

std::vector<ListStep> stepsBetween(const List& from, const List& to) {
    return reconcile(keysOf(from), keysOf(to), [&](IndexPath a, IndexPath b) {
        return from[a.section].rows[a.row].content == to[b.section].rows[b.row].content;
    });
}

// Applies the steps the way the Qt model does, each on the list as the steps before left it; rows
// and sections inserted or updated take their content from `to` at the position named.
List apply(List list, const std::vector<ListStep>& steps, const List& to) {
    auto at = [](auto& vector, std::size_t index) {
        EXPECT_LT(index, vector.size());
        return vector.begin() + static_cast<std::ptrdiff_t>(std::min(index, vector.size()));
    };
    for (const auto& step : steps) {
        const auto first = static_cast<std::ptrdiff_t>(step.first);
        const auto count = static_cast<std::ptrdiff_t>(step.count);
        switch (step.kind) {
        case Kind::removeRows: {
            auto& rows = list.at(step.section).rows;
            EXPECT_LE(step.first + step.count, rows.size());
            rows.erase(at(rows, step.first), at(rows, step.first) + count);
            break;
        }
        case Kind::removeSections:
            EXPECT_LE(step.first + step.count, list.size());
            list.erase(at(list, step.first), at(list, step.first) + count);
            break;
        case Kind::moveSection: {
            auto moved = list.at(step.first);
            list.erase(at(list, step.first));
            list.insert(list.begin() + static_cast<std::ptrdiff_t>(step.to), moved);
            break;
        }
        case Kind::insertSections:
            list.insert(list.begin() + first, to.begin() + first, to.begin() + first + count);
            break;
        case Kind::moveRow: {
            auto& rows = list.at(step.section).rows;
            auto moved = rows.at(step.first);
            rows.erase(at(rows, step.first));
            rows.insert(rows.begin() + static_cast<std::ptrdiff_t>(step.to), moved);
            break;
        }
        case Kind::insertRows: {
            auto& rows = list.at(step.section).rows;
            const auto& source = to.at(step.section).rows;
            rows.insert(rows.begin() + first, source.begin() + first, source.begin() + first + count);
            break;
        }
        case Kind::updateRows:
            for (auto r = step.first; r < step.first + step.count; ++r) {
                EXPECT_NE(list.at(step.section).rows.at(r).content, to[step.section].rows[r].content);
                list.at(step.section).rows.at(r) = to[step.section].rows[r];
            }
            break;
        }
    }
    return list;
}

List endpointsAndMeasures(int endpoints, int measures) {
    List list{{"Endpoint-Section", {}}, {"Measure-Section", {}}};
    for (int i = 0; i < endpoints; ++i)
        list[0].rows.push_back({std::to_string(i), 0});
    for (int i = 0; i < measures; ++i)
        list[1].rows.push_back({std::to_string(i), 0}); // ids shared with endpoints
    return list;
}

TEST(ListReconciliation, StepsForTypicalReloads) {
    const List base = endpointsAndMeasures(5, 3);
    struct Case {
        const char* name;
        std::function<void(List&)> change;
        std::vector<ListStep> expected;
    };
    const std::vector<Case> cases{
        {"nothing changed", [](List&) {}, {}},
        {"two rows checked again, same ids: updates only, nothing else moves",
         [](List& l) {
             l[0].rows[1].content = 1;
             l[1].rows[2].content = 1;
         },
         {{Kind::updateRows, 0, 1, 1, 0}, {Kind::updateRows, 1, 2, 1, 0}}},
        {"adjacent updates come as one range",
         [](List& l) { l[0].rows[2].content = l[0].rows[3].content = 7; },
         {{Kind::updateRows, 0, 2, 2, 0}}},
        {"the last row moved to the top: one move",
         [](List& l) { std::rotate(l[0].rows.begin(), l[0].rows.end() - 1, l[0].rows.end()); },
         {{Kind::moveRow, 0, 4, 1, 0}}},
        {"the first row moved to the end: one move",
         [](List& l) { std::rotate(l[0].rows.begin(), l[0].rows.begin() + 1, l[0].rows.end()); },
         {{Kind::moveRow, 0, 0, 1, 4}}},
        {"rows deleted bottom up in ranges, then inserted top down",
         [](List& l) {
             l[0].rows.erase(l[0].rows.begin() + 1, l[0].rows.begin() + 3);
             l[0].rows.push_back({"new", 0});
         },
         {{Kind::removeRows, 0, 1, 2, 0}, {Kind::insertRows, 0, 3, 1, 0}}},
        {"the endpoints section went: one section removal, its rows with it",
         [](List& l) { l.erase(l.begin()); },
         {{Kind::removeSections, 0, 0, 1, 0}}},
        {"sections swapped: one section move",
         [](List& l) { std::swap(l[0], l[1]); },
         {{Kind::moveSection, 0, 0, 1, 1}}},
        {"a section added at the top with its rows",
         [](List& l) {
             l.insert(l.begin(), Section{"Other", {{"x", 0}}});
         },
         {{Kind::insertSections, 0, 0, 1, 0}}},
    };
    for (const auto& c : cases) {
        List target = base;
        c.change(target);
        const auto steps = stepsBetween(base, target);
        EXPECT_EQ(steps, c.expected) << c.name;
        EXPECT_EQ(apply(base, steps, target), target) << c.name;
    }
}

// Lists a fault in the step order would break (indices off by a removal, a move counted from the
// wrong end): every kind of change at once, over many random pairs, must still land on the target.
TEST(ListReconciliation, RandomChangesLandOnTheTarget) {
    std::mt19937 random(20261207);
    auto randomList = [&](int keys) {
        List list;
        std::vector<std::string> sections{"A", "B", "C", "D"};
        std::shuffle(sections.begin(), sections.end(), random);
        const auto sectionCount = random() % 4;
        for (std::size_t s = 0; s < sectionCount; ++s) {
            Section section{sections[s], {}};
            std::vector<int> ids(keys);
            std::iota(ids.begin(), ids.end(), 0);
            std::shuffle(ids.begin(), ids.end(), random);
            ids.resize(random() % (keys + 1));
            for (int id : ids)
                section.rows.push_back({std::to_string(id), static_cast<int>(random() % 3)});
            if (!section.rows.empty() && random() % 4 == 0)
                section.rows.push_back(section.rows.front()); // a repeated key
            list.push_back(section);
        }
        return list;
    };
    for (int round = 0; round < 400; ++round) {
        const List from = randomList(12), to = randomList(12);
        const auto steps = stepsBetween(from, to);
        ASSERT_EQ(apply(from, steps, to), to) << "round " << round;
    }
}

TEST(ListReconciliation, SnapshotsMatchSectionsByKeyAndRowsByIdentity) {
    // Sections carry a reload time, rows an update time; keys leave both out.
    using Snapshot = joblark::DiffableSnapshot<std::pair<std::string, int>, std::pair<std::string, int>>;
    auto snapshot = [](int reload, int changedUpdate) {
        Snapshot s;
        s.appendSections({{"Endpoint-Section", reload}});
        s.appendItems({{"1", 100}, {"2", changedUpdate}, {"3", 100}});
        return s;
    };
    auto steps = reconcile(
        snapshot(1, 100), snapshot(2, 200), [](const auto& s) { return s.first; },
        [](const auto& item) { return item.first; });
    EXPECT_EQ(steps, (std::vector<ListStep>{{Kind::updateRows, 0, 1, 1, 0}}));
}

} // namespace
} // namespace kestrova

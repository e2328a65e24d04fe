#include "Fixtures.hpp"
#include "TestClasses.hpp"

#include "UI/Kit/Cards.hpp"
#include "UI/Kit/SnapshotListModel.hpp"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

#include <random>

namespace kestrova::ui::tests {
namespace {

// A row of the list: the resource's id and its update time, as the overview's identifiers.
struct Row {
    std::string id;
    int updatedAt = 0;
    bool operator==(const Row&) const = default;
};
using Content = std::vector<std::pair<std::string, std::vector<Row>>>;

std::vector<SnapshotListModel::SectionContent> contentOf(const Content& content) {
    std::vector<SnapshotListModel::SectionContent> sections;
    for (const auto& [key, rows] : content) {
        auto& section = sections.emplace_back();
        section.key = key;
        section.title = QString::fromStdString(key);
        for (const auto& row : rows) {
            section.rowKeys.push_back(row.id);
            section.items.emplace_back(row);
        }
    }
    return sections;
}

bool sameRow(const std::any& a, const std::any& b) {
    return std::any_cast<Row>(a) == std::any_cast<Row>(b);
}

// What the model shows, read back through the item-model interface only.
Content shown(const SnapshotListModel& model) {
    Content content;
    for (int s = 0; s < model.rowCount(); ++s) {
        const QModelIndex section = model.index(s, 0);
        auto& [key, rows] = content.emplace_back(
            section.data(SnapshotListModel::SectionKeyRole).toString().toStdString(), std::vector<Row>{});
        for (int r = 0; r < model.rowCount(section); ++r) {
            const auto path = model.indexPath(model.index(r, 0, section));
            rows.push_back(std::any_cast<Row>(*model.item(*path)));
        }
    }
    return content;
}

Content endpointsAndMeasures(int endpoints, int measures, int updatedAt = 0) {
    Content content{{"Endpoint-Section", {}}, {"Measure-Section", {}}};
    for (int i = 0; i < endpoints; ++i)
        content[0].second.push_back({std::to_string(i), updatedAt});
    for (int i = 0; i < measures; ++i)
        content[1].second.push_back({std::to_string(i), updatedAt});
    return content;
}

class ReconciliationModelTests : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // QAbstractItemModelTester checks every announcement against the model's answers around it: a
    // step announced at the wrong index or applied in the wrong order fails here.
    void randomReloadsKeepTheModelConsistent() {
        SnapshotListModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        std::mt19937 random(7);
        for (int round = 0; round < 60; ++round) {
            Content content;
            std::vector<std::string> keys{"Endpoint-Section", "Measure-Section", "Other"};
            std::shuffle(keys.begin(), keys.end(), random);
            for (std::size_t s = 0; s < random() % 4; ++s) {
                std::vector<Row> rows;
                for (int id = 0; id < 15; ++id)
                    if (random() % 3 != 0)
                        rows.push_back({std::to_string(id), static_cast<int>(random() % 2)});
                std::shuffle(rows.begin(), rows.end(), random);
                content.emplace_back(keys[s], rows);
            }
            model.apply(contentOf(content), sameRow);
            QCOMPARE(shown(model), content);
        }
    }

    void reloadKeepsSelectionAndRemakesOnlyChangedCells() {
        SnapshotListModel model;
        model.setCellProvider([](const joblark::IndexPath&, const std::any& item) {
            auto cell = std::make_shared<joblark::TableViewCell>();
            cell->text = std::any_cast<Row>(item).id;
            return cell;
        });
        QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        model.apply(contentOf(endpointsAndMeasures(50, 20)), sameRow);
        QPersistentModelIndex selected = model.index(joblark::IndexPath{0, 30});
        for (int s = 0; s < 2; ++s)
            for (int r = 0; r < model.rowCount(model.index(s, 0)); ++r)
                model.cell(model.index(r, 0, model.index(s, 0)));
        const auto made = model.cellsMade();
        inserted.clear();

        // The next reload: row 10 checked again, row 0 gone, so the selection shifts up by one.
        Content next = endpointsAndMeasures(50, 20);
        next[0].second[10].updatedAt = 1;
        next[0].second.erase(next[0].second.begin());
        model.apply(contentOf(next), sameRow);
        QCOMPARE(resets.count(), 0);
        QCOMPARE(inserted.count(), 0);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.front().at(0).value<QModelIndex>().row(), 9);
        QVERIFY(selected.isValid());
        QCOMPARE(selected.row(), 29);
        QCOMPARE(selected.data().toString(), QStringLiteral("30"));
        QCOMPARE(model.cellsMade(), made); // nothing remade before it is asked for
        model.cell(model.index(joblark::IndexPath{0, 9}));
        model.cell(model.index(joblark::IndexPath{0, 8}));
        QCOMPARE(model.cellsMade(), made + 1); // the changed row only
    }

    // The overview's reload with 10 of 2,000 rows changed: only their cards are painted again.
    void aReloadRepaintsOnlyTheChangedRows() {
        SnapshotListModel model;
        model.setCellProvider([](const joblark::IndexPath&, const std::any& item) {
            auto cell = std::make_shared<EndpointCardCell>();
            const Row row = std::any_cast<Row>(item);
            cell->configure(*makeEndpoint(row.id, "Endpoint " + row.id, mixedHistory(30, 1),
                                          1'780'000'000 + row.updatedAt));
            return cell;
        });
        model.apply(contentOf(endpointsAndMeasures(1000, 1000)), sameRow);
        CardListView view;
        view.setModel(&model);
        view.resize(400, 2000); // about 23 cards in view
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QTRY_VERIFY_WITH_TIMEOUT(view.cardDelegate()->cardsPainted() > 0, 5000);
        const auto firstPaint = view.cardDelegate()->cardsPainted();
        QVERIFY(firstPaint >= 20 && firstPaint < 40);

        view.cardDelegate()->resetCardsPainted();
        Content next = endpointsAndMeasures(1000, 1000);
        const std::vector<int> changedRows{0, 2, 4, 6, 8, 10, 12, 14, 16, 18};
        for (int r : changedRows)
            next[0].second[static_cast<std::size_t>(r)].updatedAt = 5;
        model.apply(contentOf(next), sameRow);
        QTRY_COMPARE_WITH_TIMEOUT(view.cardDelegate()->cardsPainted(), changedRows.size(), 5000);
        QCoreApplication::processEvents(); // no further paint was pending
        QCOMPARE(view.cardDelegate()->cardsPainted(), changedRows.size());
    }
};

} // namespace

std::unique_ptr<QObject> makeReconciliationModelTests() {
    return std::make_unique<ReconciliationModelTests>();
}

} // namespace kestrova::ui::tests

#include "ReconciliationModelTests.moc"

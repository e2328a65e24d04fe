// Snapshot differences for a list of model rows: N items, of which 100 places differ (moves,
// deletions and insertions), for N = 1,000 to 100,000 to show the growth.
#include "joblark/Lists/ListView.hpp"

#include <benchmark/benchmark.h>

#include <random>

using namespace joblark;

namespace {

struct Row : Object {
    explicit Row(std::string rowId) : id(std::move(rowId)) {}
    std::string id;
    bool isEqual(const Object& other) const override {
        auto* row = dynamic_cast<const Row*>(&other);
        return row && row->id == id;
    }
    std::size_t hash() const override { return std::hash<std::string>{}(id); }
};

using RowPtr = std::shared_ptr<Row>;
using Snapshot = DiffableSnapshot<int, RowPtr>;

Snapshot snapshotOf(const std::vector<RowPtr>& rows) {
    Snapshot snapshot;
    snapshot.appendSections({0});
    snapshot.appendItems(rows, 0);
    return snapshot;
}

void BM_SnapshotDifference100Changes(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    std::vector<RowPtr> before;
    before.reserve(n);
    for (std::size_t i = 0; i < n; ++i)
        before.push_back(std::make_shared<Row>("endpoint-" + std::to_string(i)));
    // Fresh but equal objects, as a refresh from the service delivers them.
    std::vector<RowPtr> after;
    after.reserve(n);
    for (const auto& row : before)
        after.push_back(std::make_shared<Row>(row->id));
    std::mt19937 random(42);
    for (int i = 0; i < 34; ++i) // 34 moves
        std::swap(after[random() % n], after[random() % n]);
    for (int i = 0; i < 33; ++i) // 33 deletions
        after.erase(after.begin() + static_cast<std::ptrdiff_t>(random() % after.size()));
    for (int i = 0; i < 33; ++i) // 33 insertions
        after.insert(after.begin() + static_cast<std::ptrdiff_t>(random() % after.size()),
                     std::make_shared<Row>("new-" + std::to_string(i)));
    const Snapshot from = snapshotOf(before);
    const Snapshot to = snapshotOf(after);

    for (auto _ : state) {
        auto changes = difference(from, to);
        benchmark::DoNotOptimize(changes);
    }
    state.SetComplexityN(state.range(0));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

} // namespace

BENCHMARK(BM_SnapshotDifference100Changes)
    ->RangeMultiplier(10)
    ->Range(1000, 100000)
    ->Unit(benchmark::kMicrosecond)
    ->Complexity(benchmark::oN);

BENCHMARK_MAIN();

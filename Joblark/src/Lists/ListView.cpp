#include "joblark/Lists/ListView.hpp"

namespace joblark::detail {

std::vector<std::size_t> longestIncreasingSubsequence(const std::vector<std::size_t>& sequence) {
    // Patience sorting: tails[l] is the position of the smallest tail of an increasing run of
    // length l + 1; back-links rebuild one longest run.
    std::vector<std::size_t> tails;
    std::vector<std::size_t> previous(sequence.size(), SIZE_MAX);
    for (std::size_t i = 0; i < sequence.size(); ++i) {
        auto slot = std::lower_bound(
            tails.begin(), tails.end(), sequence[i],
            [&](std::size_t position, std::size_t value) { return sequence[position] < value; });
        if (slot != tails.begin())
            previous[i] = *(slot - 1);
        if (slot == tails.end())
            tails.push_back(i);
        else
            *slot = i;
    }
    std::vector<std::size_t> run(tails.size());
    std::size_t at = tails.empty() ? SIZE_MAX : tails.back();
    for (std::size_t k = run.size(); k-- > 0;) {
        run[k] = at;
        at = previous[at];
    }
    return run;
}

} // namespace joblark::detail

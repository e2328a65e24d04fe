#include <joblark/Joblark.hpp>

#include <cstdio>

int main() {
    using namespace joblark;
    TaskController controller;
    int steps = 0;
    auto first = std::make_shared<BlockTask>(false, [&] { ++steps; });
    auto second = std::make_shared<BlockTask>(false, [&] { ++steps; });
    TaskController::performInSeries(std::vector<TaskPtr>{first, second}, true);
    std::printf("%s %d\n", second->result().debugDescription().c_str(), steps);
    return second->result().status.ok() && steps == 2 ? 0 : 1;
}

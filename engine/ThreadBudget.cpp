#include "ThreadBudget.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

namespace fennick {

namespace {

std::atomic<unsigned> coreOverride{0};
std::mutex budgetMutex;
unsigned threadsInUse = 0; // may exceed the cores: a conversion that finds none free still runs

} // namespace

unsigned ThreadBudget::cores()
{
    const unsigned set = coreOverride.load();
    return set > 0 ? set : std::max(1u, std::thread::hardware_concurrency());
}

void ThreadBudget::setCores(unsigned count) { coreOverride.store(count); }

ThreadBudget::ThreadBudget(unsigned wanted)
{
    const unsigned all = cores();
    std::lock_guard lock(budgetMutex);
    const unsigned free = threadsInUse < all ? all - threadsInUse : 0;
    granted_ = std::max(1u, std::min(free, wanted));
    threadsInUse += granted_;
}

ThreadBudget::~ThreadBudget()
{
    std::lock_guard lock(budgetMutex);
    threadsInUse -= granted_;
}

} // namespace fennick

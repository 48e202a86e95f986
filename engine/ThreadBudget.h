#pragma once

namespace fennick {

// The process's cores as conversions share them: a conversion takes as many resampling threads as
// are free (at least one, its own), so concurrent conversions split the cores instead of fighting
// over them.
class ThreadBudget {
public:
    // Takes up to `wanted` threads, never more than are free, and always at least one.
    explicit ThreadBudget(unsigned wanted);
    ~ThreadBudget();
    ThreadBudget(const ThreadBudget&) = delete;
    ThreadBudget& operator=(const ThreadBudget&) = delete;

    unsigned granted() const { return granted_; }

    // The cores there are, at least one; or what setCores last said.
    static unsigned cores();
    // Makes the budget count `count` cores instead of the machine's (0: the machine's again), so
    // that a run can be held to one thread or split into more groups than there are cores.
    static void setCores(unsigned count);

private:
    unsigned granted_;
};

} // namespace fennick

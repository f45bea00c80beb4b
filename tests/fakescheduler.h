#pragma once

#include "sweep/stepscheduler.h"

#include <functional>

// A scheduler on a virtual clock: nothing runs until the test says so, and
// every wait is recorded instead of slept.
class FakeScheduler final : public vexal::StepScheduler
{
public:
    void schedule(int milliseconds, std::function<void()> step) override
    {
        m_pendingMs = milliseconds;
        m_step = std::move(step);
    }
    void cancel() override { m_step = nullptr; }
    bool isPending() const override { return bool(m_step); }

    int pendingWait() const { return m_pendingMs; }
    qint64 now() const { return m_now; }

    // Lets the pending wait pass and runs its step. False when none is pending.
    bool runNext()
    {
        if (!m_step)
            return false;
        auto step = std::exchange(m_step, nullptr);
        m_now += m_pendingMs;
        step();
        return true;
    }
    // Runs at most n steps (all pending ones by default); the count run.
    int runSteps(int n)
    {
        int done = 0;
        while (done < n && runNext())
            ++done;
        return done;
    }
    int runAll(int limit = 1000000) { return runSteps(limit); }

private:
    std::function<void()> m_step;
    int m_pendingMs = 0;
    qint64 m_now = 0;
};

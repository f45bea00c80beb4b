#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

namespace vexal {

// Runs the sweep's next step after a wait, from the event loop. The sweep
// never sleeps or spins a nested loop; it hands its continuation to this.
// Injected so that tests can step through hours of pacing without waiting.
class StepScheduler
{
public:
    virtual ~StepScheduler() = default;
    // Replaces any pending step.
    virtual void schedule(int milliseconds, std::function<void()> step) = 0;
    virtual void cancel() = 0;
    virtual bool isPending() const = 0;
};

class TimerStepScheduler final : public QObject, public StepScheduler
{
    Q_OBJECT

public:
    explicit TimerStepScheduler(QObject *parent = nullptr);

    void schedule(int milliseconds, std::function<void()> step) override;
    void cancel() override;
    bool isPending() const override;

private:
    QTimer m_timer;
    std::function<void()> m_step;
};

} // namespace vexal

#pragma once

#include "addresses/octetlist.h"
#include "common/ipv4.h"
#include "run/settingscheck.h"

#include <QString>
#include <QStringList>

namespace vexal {

// What a sweep run needs of the window that shows it: the entries only the
// window holds, and the places where it shows the run. The main window is
// one; tests script another.
class RunView
{
public:
    enum class Answer { Ok, Retry, Cancel };

    // The five captions a run summary copies, as the window shows them now.
    struct SummaryCaptions
    {
        QString attempts;
        QString responses;
        QString percentage;
        QString startTime;
        QString elapsedTime;
    };

    virtual ~RunView() = default;

    // Entries, read at Start.
    virtual PingSettingsText pingSettingsText() const = 0;
    virtual AddressSet selections() const = 0;
    virtual bool continuousCycle() const = 0;

    // The run indicator: the Start/Stop button's tag and caption.
    virtual void showRunning(bool running) = 0;
    // 1 locks, 0 unlocks the controls a sweep must not touch.
    virtual void groupState(int state) = 0;
    // The unique list shows the first `count` of the run's listed addresses
    // (SweepRun::listedAddresses()); 0 empties it at Start. Called at most
    // once per display frame during a fast sweep, with a count that only
    // grows within a run.
    virtual void showPositiveResponses(qsizetype count) = 0;
    virtual void showCurrentAddress(const QString &address) = 0;
    virtual void updateCycleLabel(qint64 cycle) = 0;
    virtual void showStartTime(const QString &text) = 0;
    // Also the minimised window's caption while the clock ticks.
    virtual void showElapsedTime(const QString &text, bool fromClockTick) = 0;
    virtual void showHits(const QString &attempts, const QString &responses,
                          const QString &percentage, const QString &unique) = 0;
    virtual SummaryCaptions summaryCaptions() = 0;

    // A modal message with the exclamation icon; returns the button pressed.
    virtual Answer showMessage(const QString &title, const QString &text, bool retryCancel) = 0;
};

} // namespace vexal

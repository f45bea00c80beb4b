#pragma once

#include "qtprinters.h"

#include "fakescheduler.h"
#include "manualclock.h"

#include "common/logsettings.h"
#include "run/runview.h"
#include "run/sweeprun.h"
#include "sweep/fakepinger.h"

#include <QQueue>

#include <functional>

// A window for the run: entries set by the test, everything shown recorded,
// messages answered from a queue (OK, or Cancel for Retry/Cancel, when empty).
class ScriptedRunView final : public vexal::RunView
{
public:
    struct Message
    {
        QString title;
        QString text;
        bool retryCancel = false;
        bool operator==(const Message &) const = default;
        friend void PrintTo(const Message &m, std::ostream *os)
        {
            *os << (m.retryCancel ? "Retry/Cancel " : "") << '"' << m.title.toStdString() << "\": "
                << m.text.toStdString();
        }
    };

    vexal::PingSettingsText pingSettingsText() const override { return settings; }
    vexal::AddressSet selections() const override { return lists; }
    bool continuousCycle() const override { return continuous; }
    void showRunning(bool on) override { running = on; }
    void groupState(int state) override { locked = state == 1 ? true : state == 0 ? false : locked; }
    void clearPositiveResponses() override { listed.clear(); }
    void appendPositiveResponses(const QStringList &addresses) override { listed += addresses; }
    void showCurrentAddress(const QString &) override {}
    void updateCycleLabel(qint64) override {}
    void showStartTime(const QString &text) override { captions.startTime = text; }
    void showElapsedTime(const QString &text, bool) override { captions.elapsedTime = text; }
    void showHits(const QString &attempts, const QString &responses, const QString &percentage,
                  const QString &unique) override
    {
        captions = {attempts, responses, percentage, captions.startTime, captions.elapsedTime};
        uniqueCaption = unique;
    }
    SummaryCaptions summaryCaptions() override { return captions; }
    Answer showMessage(const QString &title, const QString &text, bool retryCancel) override
    {
        messages.append({title, text, retryCancel});
        if (onMessage)
            onMessage(messages.constLast());
        if (!answers.isEmpty())
            return answers.dequeue();
        return retryCancel ? Answer::Cancel : Answer::Ok;
    }

    // Entries.
    vexal::PingSettingsText settings{QStringLiteral("64"), QStringLiteral("300"), QStringLiteral("0")};
    vexal::AddressSet lists;
    bool continuous = false;
    // What is shown.
    bool running = false;
    bool locked = false;
    QStringList listed;
    SummaryCaptions captions;
    QString uniqueCaption;
    QList<Message> messages;
    QQueue<Answer> answers;
    std::function<void(const Message &)> onMessage;
};

// A run with a scripted network, clock, scheduler and window.
struct RunRig
{
    // Selects a, b and c in the first three lists and each of last in the fourth.
    void target(int a, int b, int c, std::initializer_list<int> last)
    {
        view.lists = {};
        view.lists[0].setSelected(a, true);
        view.lists[1].setSelected(b, true);
        view.lists[2].setSelected(c, true);
        for (int d : last)
            view.lists[3].setSelected(d, true);
    }

    ScriptedRunView view;
    vexal::FakePinger pinger;
    FakeScheduler scheduler;
    ManualClock clock;
    vexal::LogSettings logSettings;
    vexal::SweepRun run{vexal::RunServices{pinger, scheduler, clock, logSettings}, view};
};

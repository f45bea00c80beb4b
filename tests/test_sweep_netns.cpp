// A real sweep: the real main window, the system pinger and real ICMP,
// inside a private network namespace that this process makes for itself.
#include "netns.h"
#include "qtprinters.h"
#include "scripteddialogs.h"

#include "app/mainwindow.h"
#include "common/clock.h"
#include "common/logsettings.h"
#include "sweep/pinger.h"
#include "sweep/stepscheduler.h"

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include <cstring>

#include <gtest/gtest.h>

using namespace vexal;

namespace {

std::string g_noNetwork = "the private network was not entered";

OctetList only(std::initializer_list<int> positions)
{
    OctetList list;
    for (int p : positions)
        list.setSelected(p, true);
    return list;
}

QString label(MainWindow &window, const char *name)
{
    return window.findChild<QLabel *>(QLatin1String(name))->text();
}

} // namespace

TEST(RealSweep, LoopbackThroughTheMainWindow)
{
    if (!netns::inPrivateNetwork())
        GTEST_SKIP() << g_noNetwork;

    ScriptedDialogs dialogs;
    TimerStepScheduler scheduler;
    SystemClock clock;
    LogSettings logSettings;
    const std::unique_ptr<Pinger> pinger = createSystemPinger();
    MainWindow window({dialogs, *pinger, scheduler, clock, logSettings}, QString());
    window.show();

    window.setSelections({only({127}), only({0}), only({0}), only({1, 2, 3, 4})});
    window.findChild<QPushButton *>(QStringLiteral("cmdStart"))->click();
    ASSERT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.constFirst().text.toStdString();
    EXPECT_EQ(window.startTag(), QStringLiteral("Stop"));

    // Loopback answers within microseconds; the run ends once every reply
    // is in, and well inside the 300 ms timeout.
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.startTag() == QStringLiteral("Start"); }, 5000));
    EXPECT_EQ(label(window, "lblActualAttempts"), QStringLiteral("4 of 4"));
    EXPECT_EQ(label(window, "lblActualResponse"), QStringLiteral("4"));
    EXPECT_EQ(label(window, "lblActualPercentage"), QStringLiteral("100%"));
    EXPECT_EQ(label(window, "lblUniqueResponses"), QStringLiteral("Unique IPs: 4"));
    EXPECT_EQ(label(window, "lblActualCurrentAddress"), QStringLiteral("127.0.0.4"));
    auto *responses = window.findChild<QListWidget *>(QStringLiteral("lstPositiveResponses"));
    QStringList listed;
    for (int i = 0; i < responses->count(); ++i)
        listed << responses->item(i)->text();
    EXPECT_EQ(listed, QStringList({"127.0.0.1", "127.0.0.2", "127.0.0.3", "127.0.0.4"}));
    EXPECT_TRUE(window.findChild<QWidget *>(QStringLiteral("fraIPAddresses"))->isEnabled());
}

int main(int argc, char **argv)
{
    bool listing = false;
    for (int i = 1; i < argc; ++i)
        listing = listing || std::strncmp(argv[i], "--gtest_list_tests", 18) == 0;
    // Only a run sends packets; listing the tests at build time must not
    // need root.
    if (!listing) {
        const std::string why = netns::enterPrivateNetwork();
        if (!why.empty())
            g_noNetwork = why;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}

#include "windowrig.h"

#include "run/sweeprun.h"
#include "sweep/sweepcontroller.h"

#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <QClipboard>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

using namespace vexal;

namespace {

const QString StopFirst = QStringLiteral("Please stop the current action before exiting the application!");

void typeInto(QLineEdit *field, const QString &keys)
{
    field->setFocus();
    for (QChar key : keys)
        QTest::keyClicks(field, QString(key));
}

QStringList entries(QListWidget *list)
{
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out << list->item(i)->text();
    return out;
}

} // namespace

TEST(MainWindow, StartsCentredWithItsLayoutAndDefaults)
{
    WindowRig rig;
    rig.window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(rig.window.get()));

    EXPECT_EQ(rig.window->objectName(), QStringLiteral("frmPing"));
    EXPECT_EQ(rig.window->windowTitle(), QStringLiteral("Vexal"));
    EXPECT_EQ(rig.window->size(), QSize(409, 463));
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    // Within the frame's margins, which are known only once the window is shown.
    EXPECT_LE(std::abs(rig.window->frameGeometry().center().x() - screen.center().x()), 4);
    EXPECT_LE(std::abs(rig.window->frameGeometry().center().y() - screen.center().y()), 4);
    EXPECT_FALSE(rig.window->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(rig.window->windowFlags() & Qt::WindowMinimizeButtonHint);

    // A few positions, twips / 15.
    EXPECT_EQ(rig.button("cmdStart")->geometry(), QRect(248, 128, 73, 25));
    EXPECT_EQ(rig.button("cmdExit")->geometry(), QRect(328, 192, 73, 25));
    EXPECT_EQ(rig.list(2)->geometry(), QRect(120, 24, 49, 147));
    EXPECT_EQ(rig.octetField(3)->geometry(), QRect(176, 184, 49, 19));
    EXPECT_EQ(rig.find("fraStatistics")->geometry(), QRect(8, 224, 393, 233));
    EXPECT_EQ(rig.find("lstPositiveResponses")->geometry(), QRect(8, 16, 121, 160));

    // Captions and access keys.
    EXPECT_EQ(rig.button("cmdStart")->text(), QStringLiteral("&Start"));
    EXPECT_EQ(rig.button("cmdLog")->text(), QStringLiteral("&Log"));
    EXPECT_EQ(rig.button("cmdSaveIPFile")->text(), QStringLiteral("S&ave IP File"));
    EXPECT_EQ(rig.button("cmdOpenIPFile")->text(), QStringLiteral("&Open IP File"));
    EXPECT_EQ(rig.button("cmdAbout")->text(), QStringLiteral("A&bout"));
    EXPECT_EQ(rig.button("cmdExit")->text(), QStringLiteral("E&xit"));
    EXPECT_EQ(rig.find<QCheckBox>("chkContinueCycle")->text(), QStringLiteral("&Continuos Cycle"));
    EXPECT_EQ(rig.text("lblTimeout"), QStringLiteral("&Timeout (ms) :"));
    EXPECT_EQ(rig.find<QLabel>("lblDelay")->buddy(), rig.field("txtDelay"));
    EXPECT_EQ(rig.find<QGroupBox>("fraIPAddresses")->title(), QStringLiteral("IP Addresses"));

    // Defaults and the empty start state.
    EXPECT_EQ(rig.field("txtPacketSize")->text(), QStringLiteral("64"));
    EXPECT_EQ(rig.field("txtTimeOut")->text(), QStringLiteral("300"));
    EXPECT_EQ(rig.field("txtDelay")->text(), QStringLiteral("0"));
    EXPECT_EQ(rig.field("txtPacketSize")->maxLength(), 5);
    EXPECT_EQ(rig.field("txtDelay")->maxLength(), 2);
    EXPECT_FALSE(rig.find<QCheckBox>("chkContinueCycle")->isChecked());
    EXPECT_FALSE(rig.find<QLabel>("lblCurrentCycle")->isEnabled());
    EXPECT_EQ(rig.window->startTag(), QStringLiteral("Start"));
    for (int k = 0; k < 4; ++k) {
        ASSERT_EQ(rig.list(k)->count(), 256);
        EXPECT_EQ(rig.list(k)->item(0)->text(), QStringLiteral("0"));
        EXPECT_EQ(rig.list(k)->item(255)->text(), QStringLiteral("255"));
        EXPECT_EQ(rig.selectedCount(k), 0);
        EXPECT_EQ(rig.list(k)->selectionMode(), QAbstractItemView::ExtendedSelection);
        EXPECT_TRUE(rig.octetField(k)->text().isEmpty());
        EXPECT_EQ(rig.octetField(k)->maxLength(), 3);
    }
    EXPECT_FALSE(rig.window->commandLinePending());
    EXPECT_TRUE(rig.pinger.sentAddresses().isEmpty());
}

TEST(MainWindow, TabOrderAndFocusSelection)
{
    WindowRig rig;
    rig.window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(rig.window.get()));
    QApplication::setActiveWindow(rig.window.get());

    QStringList visited;
    QWidget *w = rig.octetField(0);
    for (int i = 0; i < 17; ++i) {
        visited << w->objectName();
        w = w->nextInFocusChain();
        while (!(w->focusPolicy() & Qt::TabFocus))
            w = w->nextInFocusChain();
    }
    EXPECT_EQ(visited, QStringList({"txtIP0", "txtIP1", "txtIP2", "txtIP3", "lstIP0", "lstIP1",
                                    "lstIP2", "lstIP3", "txtPacketSize", "txtTimeOut", "txtDelay",
                                    "chkContinueCycle", "cmdStart", "cmdLog", "cmdSaveIPFile",
                                    "cmdOpenIPFile", "cmdAbout"}));

    // Entering a settings field selects its whole text, so typing replaces it.
    rig.list(3)->setFocus();
    QTest::keyClick(rig.list(3), Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), rig.field("txtPacketSize"));
    EXPECT_EQ(rig.field("txtPacketSize")->selectedText(), QStringLiteral("64"));
    QTest::keyClicks(rig.field("txtPacketSize"), QStringLiteral("32"));
    EXPECT_EQ(rig.field("txtPacketSize")->text(), QStringLiteral("32"));
    QTest::mouseClick(rig.field("txtTimeOut"), Qt::LeftButton);
    EXPECT_EQ(rig.field("txtTimeOut")->selectedText(), QStringLiteral("300"));
    // The window becoming active again leaves the caret where it was.
    rig.field("txtTimeOut")->deselect();
    QFocusEvent back(QEvent::FocusIn, Qt::ActiveWindowFocusReason);
    QApplication::sendEvent(rig.field("txtTimeOut"), &back);
    EXPECT_FALSE(rig.field("txtTimeOut")->hasSelectedText());
}

TEST(MainWindow, EntryFieldsSelectByPrefix)
{
    WindowRig rig;
    rig.window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(rig.window.get()));
    QApplication::setActiveWindow(rig.window.get());
    QLineEdit *field = rig.octetField(0);

    rig.select(0, {77});
    typeInto(field, QStringLiteral("1"));
    EXPECT_EQ(rig.selectedCount(0), 111);
    EXPECT_FALSE(rig.list(0)->item(77)->isSelected()) << "the mouse selection is replaced";
    typeInto(field, QStringLiteral("9"));
    EXPECT_EQ(rig.selectedCount(0), 11);
    typeInto(field, QStringLiteral("2"));
    EXPECT_EQ(rig.selectedCount(0), 1);
    EXPECT_TRUE(rig.list(0)->item(192)->isSelected());
    EXPECT_EQ(field->text(), QStringLiteral("192"));

    QLineEdit *second = rig.octetField(1);
    typeInto(second, QStringLiteral("2"));
    EXPECT_EQ(rig.selectedCount(1), 67);
    typeInto(second, QStringLiteral("5"));
    EXPECT_EQ(rig.selectedCount(1), 7);

    QLineEdit *third = rig.octetField(2);
    typeInto(third, QStringLiteral("0"));
    EXPECT_EQ(rig.selectedCount(2), 1);
    typeInto(third, QStringLiteral("0"));
    EXPECT_EQ(rig.selectedCount(2), 0);

    QLineEdit *fourth = rig.octetField(3);
    typeInto(fourth, QStringLiteral("ab -"));
    EXPECT_TRUE(fourth->text().isEmpty()) << "letters, blanks and signs are discarded";
    EXPECT_EQ(rig.selectedCount(3), 0);
    typeInto(fourth, QStringLiteral("12"));
    typeInto(fourth, QStringLiteral("*"));
    EXPECT_EQ(fourth->text(), QStringLiteral("*"));
    EXPECT_EQ(rig.selectedCount(3), 256);
}

TEST(MainWindow, FullStopThenFocusLossSelectsZero)
{
    WindowRig rig;
    rig.window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(rig.window.get()));
    QApplication::setActiveWindow(rig.window.get());
    QLineEdit *field = rig.octetField(0);

    typeInto(field, QStringLiteral("1.2"));
    EXPECT_EQ(field->text(), QStringLiteral("1.2"));
    EXPECT_EQ(rig.selectedCount(0), 0);
    // Losing the focus to a message box, another program or a popup is no
    // leaving of the field; only a move inside the window is.
    for (Qt::FocusReason reason : {Qt::ActiveWindowFocusReason, Qt::PopupFocusReason}) {
        QFocusEvent out(QEvent::FocusOut, reason);
        QApplication::sendEvent(field, &out);
        EXPECT_EQ(rig.selectedCount(0), 0) << reason;
    }
    rig.octetField(1)->setFocus(Qt::TabFocusReason);
    ASSERT_FALSE(field->hasFocus());
    EXPECT_EQ(rig.selectedCount(0), 1);
    EXPECT_TRUE(rig.list(0)->item(0)->isSelected());

    // Leaving an empty field changes nothing.
    rig.octetField(2)->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(rig.selectedCount(1), 0);

    // A field holding three characters lets a letter through to the field's
    // own limit, which refuses it; the list is untouched.
    rig.octetField(3)->setFocus();
    typeInto(rig.octetField(3), QStringLiteral("192"));
    typeInto(rig.octetField(3), QStringLiteral("*"));
    EXPECT_EQ(rig.octetField(3)->text(), QStringLiteral("192"));
    EXPECT_EQ(rig.selectedCount(3), 1);

    // Editing keys edit; a paste is typed through the same rule.
    QLineEdit *second = rig.octetField(1);
    second->setFocus(Qt::TabFocusReason);
    typeInto(second, QStringLiteral("25"));
    QTest::keyClick(second, Qt::Key_Home);
    QTest::keyClick(second, Qt::Key_Delete);
    EXPECT_EQ(second->text(), QStringLiteral("5"));
    second->clear();
    QGuiApplication::clipboard()->setText(QStringLiteral("2x5"));
    QTest::keyClick(second, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(second->text(), QStringLiteral("25"));
    EXPECT_EQ(rig.selectedCount(1), 7) << "25 and 250-255";
}

TEST(MainWindow, StartChecksSelectionsWithExactMessages)
{
    WindowRig rig;
    rig.window->show();
    rig.button("cmdStart")->click();
    ASSERT_EQ(rig.dialogs.messages.size(), 1);
    EXPECT_EQ(rig.dialogs.messages[0].title, QStringLiteral("List Box"));
    EXPECT_EQ(rig.dialogs.messages[0].text,
              QStringLiteral("The first list box has no entries selected.  Please select at least one "
                             "entry to continue!"));
    EXPECT_EQ(rig.dialogs.messages[0].icon, Dialogs::Icon::Exclamation);
    EXPECT_EQ(rig.window->startTag(), QStringLiteral("Start"));
    EXPECT_TRUE(rig.find("fraIPAddresses")->isEnabled());
    EXPECT_TRUE(rig.pinger.sentAddresses().isEmpty());

    rig.select(0, {10});
    rig.select(1, {0});
    rig.select(3, {0});
    rig.button("cmdStart")->click();
    EXPECT_EQ(rig.dialogs.messages.last().text,
              QStringLiteral("The third list box has no entries selected.  Please select at least one "
                             "entry to continue!"));

    rig.list(0)->clearSelection();
    rig.select(0, {0});
    rig.select(2, {0, 5});
    rig.button("cmdStart")->click();
    EXPECT_EQ(rig.dialogs.messages.last().text,
              QStringLiteral("Each part of the IP address cannot contain a 0.  This will generate an "
                             "invalid IP address.  Please correct this problem to continue"));
    EXPECT_EQ(rig.dialogs.messages.size(), 3);
    EXPECT_EQ(rig.window->startTag(), QStringLiteral("Start"));

    // Settings are checked before the selections.
    rig.field("txtPacketSize")->setText(QStringLiteral("abc"));
    rig.field("txtTimeOut")->setText(QStringLiteral("xyz"));
    rig.button("cmdStart")->click();
    EXPECT_EQ(rig.dialogs.messages.last().title, QStringLiteral("Packet Size"));
    EXPECT_EQ(rig.dialogs.messages.size(), 4);
    EXPECT_TRUE(rig.pinger.sentAddresses().isEmpty());
}

TEST(MainWindow, StartIsRefusedWhenNoIcmpSocketOpens)
{
    WindowRig rig;
    const QString why = QStringLiteral("No ICMP socket could be opened. Grant it with setcap.");
    rig.pinger.failOpen(why);
    rig.select(0, {10});
    rig.select(1, {0});
    rig.select(2, {0});
    rig.select(3, {1});
    rig.button("cmdStart")->click();
    ASSERT_EQ(rig.dialogs.messages.size(), 1);
    EXPECT_EQ(rig.dialogs.messages[0].title, QStringLiteral("Vexal"));
    EXPECT_EQ(rig.dialogs.messages[0].text, why);
    EXPECT_EQ(rig.window->startTag(), QStringLiteral("Start"));
    EXPECT_TRUE(rig.text("lblActualStartTime").isEmpty());
    EXPECT_TRUE(rig.pinger.sentAddresses().isEmpty());
}

TEST(MainWindow, SweepLocksTheGroupAndRefusesToClose)
{
    WindowRig rig;
    rig.window->show();
    rig.field("txtDelay")->setText(QStringLiteral("5"));
    rig.select(0, {10});
    rig.select(1, {0});
    rig.select(2, {0});
    rig.select(3, {1, 2});
    rig.button("cmdStart")->click();

    EXPECT_EQ(rig.window->startTag(), QStringLiteral("Stop"));
    EXPECT_EQ(rig.button("cmdStart")->text(), QStringLiteral("&Stop"));
    EXPECT_EQ(rig.text("lblActualStartTime"), QStringLiteral("Dec 5, 2026 07:12:16 PM"));
    EXPECT_EQ(rig.text("lblActualCurrentAddress"), QStringLiteral("10.0.0.1"));
    EXPECT_EQ(rig.scheduler.pendingWait(), 5050);
    for (const char *name : {"fraIPAddresses", "fraPingInformation", "cmdExit", "cmdLog", "cmdAbout",
                             "cmdOpenIPFile", "cmdSaveIPFile"})
        EXPECT_FALSE(rig.find(name)->isEnabled()) << name;
    for (const char *name : {"cmdStart", "fraStatistics", "lstPositiveResponses"})
        EXPECT_TRUE(rig.find(name)->isEnabled()) << name;

    // The title-bar close is refused, with the message, and the sweep goes on.
    EXPECT_FALSE(rig.window->close());
    ASSERT_EQ(rig.dialogs.messages.size(), 1);
    EXPECT_EQ(rig.dialogs.messages[0].title, QStringLiteral("Vexal"));
    EXPECT_EQ(rig.dialogs.messages[0].text, StopFirst);
    EXPECT_TRUE(rig.window->isVisible());
    rig.scheduler.runNext();
    EXPECT_EQ(rig.text("lblActualCurrentAddress"), QStringLiteral("10.0.0.2"));

    // Escape belongs to Exit, which is disabled during the sweep.
    QTest::keyClick(rig.window.get(), Qt::Key_Escape);
    EXPECT_TRUE(rig.window->isVisible());

    // Stop: idle again at once, everything enabled, no further request.
    rig.button("cmdStart")->click();
    EXPECT_EQ(rig.window->startTag(), QStringLiteral("Start"));
    EXPECT_EQ(rig.button("cmdStart")->text(), QStringLiteral("&Start"));
    for (const char *name : {"fraIPAddresses", "fraPingInformation", "cmdExit", "cmdLog", "cmdAbout",
                             "cmdOpenIPFile", "cmdSaveIPFile"})
        EXPECT_TRUE(rig.find(name)->isEnabled()) << name;
    EXPECT_FALSE(rig.scheduler.isPending());
    EXPECT_EQ(rig.pinger.sentAddresses().size(), 2);
    EXPECT_EQ(rig.text("lblActualAttempts"), QStringLiteral("2 of 2"));
    EXPECT_TRUE(rig.window->close());
}

TEST(MainWindow, CloseMessageHoldsTheSweep)
{
    WindowRig rig;
    rig.window->show();
    // Paced, so each step of the test scheduler is one target.
    rig.field("txtDelay")->setText(QStringLiteral("1"));
    rig.select(0, {10});
    rig.select(1, {0});
    rig.select(2, {0});
    rig.select(3, {1, 2, 3});
    rig.button("cmdStart")->click();
    // While the refusal is on screen the pending step comes due: no request.
    int sentDuringMessage = -1;
    rig.dialogs.onMessage = [&](const ScriptedDialogs::Message &) {
        rig.scheduler.runNext();
        sentDuringMessage = int(rig.pinger.sentAddresses().size());
    };
    rig.window->close();
    EXPECT_EQ(sentDuringMessage, 1);
    rig.dialogs.onMessage = nullptr;
    rig.scheduler.runAll();
    EXPECT_EQ(rig.pinger.sentAddresses().size(), 3);
}

TEST(MainWindow, SingleCycleRunCountsRepliesAndListsThemInOrder)
{
    WindowRig rig;
    rig.window->show();
    // Paced, so each step of the test scheduler is one target.
    rig.field("txtDelay")->setText(QStringLiteral("1"));
    rig.pinger.setAnswering([](Ipv4 a) { return (a & 0xff) != 3; });
    rig.select(0, {10});
    rig.select(1, {1});
    rig.select(2, {2});
    rig.select(3, {1, 2, 3, 4});
    rig.button("cmdStart")->click();
    rig.scheduler.runSteps(4);
    // Replies come in; the run ends when the last request has timed out.
    rig.pinger.deliverReplies();
    rig.clock.advance(65);
    rig.window->run().onClockTick();
    EXPECT_EQ(rig.text("lblActualAttempts"), QStringLiteral("4 of 4"));
    EXPECT_EQ(rig.text("lblActualResponse"), QStringLiteral("3"));
    EXPECT_EQ(rig.text("lblActualElapsedTime"), QStringLiteral("0000:00:01:05"));
    EXPECT_EQ(rig.window->startTag(), QStringLiteral("Stop")) << "10.1.2.3 is still outstanding";
    rig.pinger.expireOutstanding();

    EXPECT_EQ(rig.window->startTag(), QStringLiteral("Start"));
    EXPECT_EQ(rig.text("lblActualAttempts"), QStringLiteral("4 of 4"));
    EXPECT_EQ(rig.text("lblActualResponse"), QStringLiteral("3"));
    EXPECT_EQ(rig.text("lblActualPercentage"), QStringLiteral("75%"));
    EXPECT_EQ(rig.text("lblUniqueResponses"), QStringLiteral("Unique IPs: 3"));
    EXPECT_EQ(entries(rig.find<QListWidget>("lstPositiveResponses")),
              QStringList({"10.1.2.1", "10.1.2.2", "10.1.2.4"}));
    EXPECT_TRUE(rig.find("fraIPAddresses")->isEnabled());

    // A reply after the stop sequence is neither counted nor listed.
    emit rig.pinger.replied(makeIpv4(10, 1, 2, 3));
    EXPECT_EQ(rig.window->run().responseCount(), 3);
    EXPECT_EQ(rig.window->run().uniqueAddresses().count(), 3);

    // A second run starts its list and unique set afresh.
    rig.button("cmdStart")->click();
    EXPECT_EQ(rig.find<QListWidget>("lstPositiveResponses")->count(), 0);
    rig.scheduler.runSteps(4);
    rig.pinger.deliverReplies();
    rig.pinger.expireOutstanding();
    EXPECT_EQ(rig.find<QListWidget>("lstPositiveResponses")->count(), 3);
    EXPECT_EQ(rig.text("lblActualResponse"), QStringLiteral("3"));
}

TEST(MainWindow, ContinuousCyclingAndTheMinimisedCaption)
{
    WindowRig rig;
    rig.window->show();
    // Paced, so each step of the test scheduler is one target.
    rig.field("txtDelay")->setText(QStringLiteral("1"));
    rig.pinger.setAnsweringAll();
    rig.find<QCheckBox>("chkContinueCycle")->setChecked(true);
    EXPECT_TRUE(rig.find<QLabel>("lblCurrentCycle")->isEnabled());
    rig.select(0, {10});
    rig.select(1, {0});
    rig.select(2, {0});
    rig.select(3, {7});
    rig.button("cmdStart")->click();
    EXPECT_EQ(rig.text("lblActualCurrentCycle"), QStringLiteral("1"));
    rig.pinger.deliverReplies();
    rig.scheduler.runNext();
    rig.pinger.deliverReplies();
    rig.scheduler.runNext();
    rig.pinger.deliverReplies();
    EXPECT_EQ(rig.text("lblActualCurrentCycle"), QStringLiteral("3"));

    rig.window->showMinimized();
    rig.clock.advance(65.2);
    rig.window->run().onClockTick();
    EXPECT_EQ(rig.window->windowTitle(), QStringLiteral("0000:00:01:05 Vexal"));
    EXPECT_EQ(rig.text("lblActualAttempts"), QStringLiteral("3"));
    EXPECT_EQ(rig.text("lblActualResponse"), QStringLiteral("3"));
    EXPECT_EQ(rig.text("lblUniqueResponses"), QStringLiteral("Unique IPs: 1"));
    rig.window->showNormal();
    EXPECT_EQ(rig.window->windowTitle(), QStringLiteral("Vexal"));

    rig.button("cmdStart")->click();
    EXPECT_EQ(rig.window->startTag(), QStringLiteral("Start"));
    rig.find<QCheckBox>("chkContinueCycle")->setChecked(false);
    EXPECT_TRUE(rig.text("lblActualCurrentCycle").isEmpty());
    EXPECT_FALSE(rig.find<QLabel>("lblCurrentCycle")->isEnabled());
}

TEST(MainWindow, CommandLineIsAppliedOnEveryActivationWhilePending)
{
    // Applied at the first showing: minimised, the address selected, started;
    // the single cycle's end ends the process once its reply is in.
    WindowRig rig(QStringLiteral("/ip 10.0.0.1 /t 500"));
    QSignalSpy ended(rig.window.get(), &MainWindow::endProcessRequested);
    rig.pinger.setAnsweringAll();
    rig.window->show();
    QCoreApplication::processEvents();
    EXPECT_TRUE(rig.window->isMinimized());
    EXPECT_EQ(rig.field("txtTimeOut")->text(), QStringLiteral("500"));
    EXPECT_EQ(rig.window->startTag(), QStringLiteral("Stop"));
    EXPECT_EQ(rig.pinger.sentAddresses(), QList<Ipv4>{makeIpv4(10, 0, 0, 1)});
    rig.pinger.deliverReplies();
    rig.scheduler.runNext();
    ASSERT_EQ(ended.count(), 1);
    EXPECT_EQ(ended.at(0).at(0).toInt(), 0);

    // A start the checks refuse is tried again when a window of the program
    // shown over this one closes; a message box closing is no activation.
    WindowRig refused(QStringLiteral("/t 300"));
    refused.window->show();
    QCoreApplication::processEvents();
    ASSERT_EQ(refused.dialogs.messages.size(), 1);
    EXPECT_EQ(refused.dialogs.messages[0].title, QStringLiteral("List Box"));
    QDialog over(refused.window.get());
    QTimer::singleShot(0, &over, &QDialog::reject);
    refused.window->showModalOver(over);
    QCoreApplication::processEvents();
    EXPECT_EQ(refused.dialogs.messages.size(), 2);

    // Once the user has stopped a command-line sweep the line is no longer
    // pending: a later single sweep by hand returns to idle.
    WindowRig stopped(QStringLiteral("/ip 10.0.0.1"));
    QSignalSpy stoppedEnded(stopped.window.get(), &MainWindow::endProcessRequested);
    stopped.pinger.setAnsweringAll();
    stopped.window->show();
    QCoreApplication::processEvents();
    stopped.button("cmdStart")->click();
    EXPECT_FALSE(stopped.window->commandLinePending());
    stopped.button("cmdStart")->click();
    stopped.pinger.deliverReplies();
    stopped.scheduler.runNext();
    EXPECT_EQ(stopped.window->startTag(), QStringLiteral("Start"));
    EXPECT_EQ(stoppedEnded.count(), 0);
}

TEST(MainWindow, EnterStartsAndEscapeExits)
{
    WindowRig rig;
    rig.window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(rig.window.get()));
    QApplication::setActiveWindow(rig.window.get());
    rig.field("txtDelay")->setFocus();
    QTest::keyClick(rig.field("txtDelay"), Qt::Key_Return);
    ASSERT_EQ(rig.dialogs.messages.size(), 1) << "Enter pressed Start, which checked the lists";
    EXPECT_EQ(rig.dialogs.messages[0].title, QStringLiteral("List Box"));
    QTest::keyClick(rig.field("txtDelay"), Qt::Key_Escape);
    EXPECT_FALSE(rig.window->isVisible());
}

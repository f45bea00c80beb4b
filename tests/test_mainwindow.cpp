// The real main window, headless: what only the window does. The run behind
// it (statistics, logs, the stop sequence) is tested in test_run.cpp.
#include "windowrig.h"

#include "run/sweeprun.h"

#include <QClipboard>
#include <QDialog>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

using namespace vexal;

namespace {

void typeInto(QLineEdit *field, const QString &keys)
{
    for (QChar key : keys)
        QTest::keyClicks(field, QString(key));
}

// Selects 10.0.0.x for the last octets given.
void target(const WindowRig &rig, std::initializer_list<int> last)
{
    rig.select(0, {10});
    rig.select(1, {0});
    rig.select(2, {0});
    rig.select(3, last);
}

QString shown(const ScriptedDialogs::Message &message) { return message.title + '|' + message.text; }

} // namespace

TEST(MainWindow, StartsCentredWithItsCaptionsDefaultsAndTabOrder)
{
    WindowRig rig;
    ASSERT_TRUE(rig.showActive());
    EXPECT_EQ(rig.window->objectName() + '|' + rig.window->windowTitle(), QStringLiteral("frmPing|Vexal"));
    EXPECT_EQ(rig.window->size(), QSize(409, 463));
    // Within the frame's margins, which are known only once the window is shown.
    const QPoint offCentre = rig.window->frameGeometry().center() - QGuiApplication::primaryScreen()->geometry().center();
    EXPECT_LE(offCentre.manhattanLength(), 8);
    EXPECT_EQ(rig.window->windowFlags() & (Qt::WindowMaximizeButtonHint | Qt::WindowMinimizeButtonHint),
              Qt::WindowMinimizeButtonHint);
    const std::pair<const char *, const char *> captions[] = {
        {"cmdStart", "&Start"}, {"cmdLog", "&Log"}, {"cmdSaveIPFile", "S&ave IP File"},
        {"cmdOpenIPFile", "&Open IP File"}, {"cmdAbout", "A&bout"}, {"cmdExit", "E&xit"},
        {"chkContinueCycle", "&Continuos Cycle"}, {"lblTimeout", "&Timeout (ms) :"},
        {"fraIPAddresses", "IP Addresses"}, {"fraUniqueResponses", "Unique Responses"}};
    for (const auto &[name, text] : captions)
        EXPECT_EQ(caption(rig.find(name)), QString::fromUtf8(text)) << name;
    EXPECT_EQ(rig.find<QLabel>("lblDelay")->buddy(), rig.field("txtDelay"));
    EXPECT_EQ(rig.field("txtPacketSize")->text() + ' ' + rig.field("txtTimeOut")->text() + ' ' + rig.field("txtDelay")->text(),
              QStringLiteral("64 300 0"));
    EXPECT_FALSE(rig.find<QLabel>("lblCurrentCycle")->isEnabled());
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(rig.list(k)->count() + rig.list(k)->item(255)->text().toInt() + rig.selectedCount(k), 256 + 255);
        EXPECT_EQ(rig.list(k)->selectionMode(), QAbstractItemView::ExtendedSelection);
    }
    QStringList visited;
    QWidget *w = rig.octetField(0);
    for (int i = 0; i < 17; ++i, w = w->nextInFocusChain()) {
        while (!(w->focusPolicy() & Qt::TabFocus))
            w = w->nextInFocusChain();
        visited << w->objectName();
    }
    EXPECT_EQ(visited.join(' '), QStringLiteral("txtIP0 txtIP1 txtIP2 txtIP3 lstIP0 lstIP1 lstIP2 lstIP3 txtPacketSize "
                                                "txtTimeOut txtDelay chkContinueCycle cmdStart cmdLog cmdSaveIPFile "
                                                "cmdOpenIPFile cmdAbout"));
}

TEST(MainWindow, FieldsSelectTheirTextOnlyWhenTheFocusMovesIn)
{
    WindowRig rig;
    ASSERT_TRUE(rig.showActive());
    rig.list(3)->setFocus();
    QTest::keyClick(rig.list(3), Qt::Key_Tab);
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("32"));
    EXPECT_EQ(rig.field("txtPacketSize")->text(), QStringLiteral("32")) << "typing replaced the whole text";
    QLineEdit *timeout = rig.field("txtTimeOut");
    QTest::mouseClick(timeout, Qt::LeftButton);
    EXPECT_EQ(timeout->selectedText(), QStringLiteral("300"));
    timeout->deselect(); // the window becoming active again leaves the caret where it was
    QFocusEvent back(QEvent::FocusIn, Qt::ActiveWindowFocusReason);
    QApplication::sendEvent(timeout, &back);
    EXPECT_FALSE(timeout->hasSelectedText());
}

TEST(MainWindow, OctetFieldsTypeThroughThePrefixRuleAndSelectOnLeaving)
{
    WindowRig rig;
    ASSERT_TRUE(rig.showActive());
    QLineEdit *first = rig.octetField(0), *second = rig.octetField(1), *third = rig.octetField(2), *fourth = rig.octetField(3);
    rig.select(0, {77});
    first->setFocus();
    typeInto(first, QStringLiteral("19"));
    EXPECT_EQ(rig.selectedCount(0), 11);
    EXPECT_FALSE(rig.list(0)->item(77)->isSelected()) << "the mouse selection is replaced";
    typeInto(first, QStringLiteral("2*"));
    EXPECT_EQ(first->text(), QStringLiteral("192")) << "a full field leaves the key to its own limit";
    EXPECT_EQ(rig.selectedCount(0), 1);
    fourth->setFocus();
    typeInto(fourth, QStringLiteral("ab -1*"));
    EXPECT_EQ(fourth->text(), QStringLiteral("*")) << "letters, blanks and signs are discarded";
    EXPECT_EQ(rig.selectedCount(3), 256);

    // Editing keys edit; a paste is typed through the same rule.
    second->setFocus();
    typeInto(second, QStringLiteral("25"));
    QTest::keyClick(second, Qt::Key_Home);
    QTest::keyClick(second, Qt::Key_Delete);
    EXPECT_EQ(second->text(), QStringLiteral("5"));
    second->clear();
    QGuiApplication::clipboard()->setText(QStringLiteral("2x5"));
    QTest::keyClick(second, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(second->text(), QStringLiteral("25"));
    EXPECT_EQ(rig.selectedCount(1), 7) << "25 and 250-255";

    // "1.2" matches nothing; leaving the field selects entry 0, but losing the
    // focus to a message box, another program or a popup is no leaving.
    third->setFocus();
    typeInto(third, QStringLiteral("1.2"));
    for (Qt::FocusReason reason : {Qt::ActiveWindowFocusReason, Qt::PopupFocusReason}) {
        QFocusEvent out(QEvent::FocusOut, reason);
        QApplication::sendEvent(third, &out);
    }
    EXPECT_EQ(rig.selectedCount(2), 0);
    first->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(rig.selectedCount(2), 1);
    EXPECT_TRUE(rig.list(2)->item(0)->isSelected());
}

TEST(MainWindow, RefusedStartsShowTheirMessageAndChangeNothing)
{
    WindowRig rig;
    ASSERT_TRUE(rig.showActive());
    rig.field("txtDelay")->setFocus();
    QTest::keyClick(rig.field("txtDelay"), Qt::Key_Return); // Enter presses Start
    rig.field("txtPacketSize")->setText(QStringLiteral("abc")); // the settings are checked first
    rig.button("cmdStart")->click();
    const QString why = QStringLiteral("No ICMP socket could be opened. Grant it with setcap.");
    rig.pinger.failOpen(why); // and before them, the socket
    rig.button("cmdStart")->click();
    ASSERT_EQ(rig.dialogs.messages.size(), 3);
    EXPECT_EQ(shown(rig.dialogs.messages[0]), QStringLiteral("List Box|The first list box has no entries selected.  "
                                                             "Please select at least one entry to continue!"));
    EXPECT_EQ(rig.dialogs.messages[0].icon, Dialogs::Icon::Exclamation);
    EXPECT_EQ(rig.dialogs.messages[0].buttons, Dialogs::Buttons::Ok);
    EXPECT_EQ(rig.dialogs.messages[1].title, QStringLiteral("Packet Size"));
    EXPECT_EQ(shown(rig.dialogs.messages[2]), "Vexal|" + why);
    EXPECT_EQ(rig.window->startTag(), QStringLiteral("Start"));
    EXPECT_TRUE(rig.find("fraIPAddresses")->isEnabled());
    EXPECT_TRUE(rig.text("lblActualStartTime").isEmpty());
    EXPECT_TRUE(rig.pinger.sentAddresses().isEmpty());
    QTest::keyClick(rig.field("txtDelay"), Qt::Key_Escape); // Escape presses Exit
    EXPECT_FALSE(rig.window->isVisible());
}

TEST(MainWindow, SweepLocksTheGroupAndRefusesToCloseWhileItsMessageHoldsTheSweep)
{
    WindowRig rig;
    rig.window->show();
    rig.field("txtDelay")->setText(QStringLiteral("5"));
    target(rig, {1, 2});
    rig.button("cmdStart")->click();
    EXPECT_EQ(caption(rig.button("cmdStart")) + ' ' + rig.window->startTag(), QStringLiteral("&Stop Stop"));
    EXPECT_EQ(rig.text("lblActualStartTime"), QStringLiteral("Dec 5, 2026 07:12:16 PM"));
    EXPECT_EQ(rig.text("lblActualCurrentAddress"), QStringLiteral("10.0.0.1"));
    const char *const locked[] = {"fraIPAddresses", "fraPingInformation", "cmdExit", "cmdLog", "cmdAbout",
                                  "cmdOpenIPFile", "cmdSaveIPFile"};
    for (const char *name : locked)
        EXPECT_FALSE(rig.find(name)->isEnabled()) << name;
    for (const char *name : {"cmdStart", "fraStatistics", "lstPositiveResponses"})
        EXPECT_TRUE(rig.find(name)->isEnabled()) << name;

    // The title-bar close is refused with a message; while it waits, the
    // pending step comes due and sends nothing.
    qsizetype sentDuringMessage = -1;
    rig.dialogs.onMessage = [&](const ScriptedDialogs::Message &) {
        rig.scheduler.runNext();
        sentDuringMessage = rig.pinger.sentAddresses().size();
    };
    EXPECT_FALSE(rig.window->close());
    rig.dialogs.onMessage = nullptr;
    EXPECT_EQ(sentDuringMessage, 1);
    ASSERT_EQ(rig.dialogs.messages.size(), 1);
    EXPECT_EQ(shown(rig.dialogs.messages[0]), QStringLiteral("Vexal|Please stop the current action before exiting the application!"));
    rig.scheduler.runNext();
    EXPECT_EQ(rig.text("lblActualCurrentAddress"), QStringLiteral("10.0.0.2"));
    QTest::keyClick(rig.window.get(), Qt::Key_Escape); // Exit is disabled
    EXPECT_TRUE(rig.window->isVisible());

    rig.button("cmdStart")->click(); // Stop: idle at once, no further request
    EXPECT_EQ(caption(rig.button("cmdStart")) + ' ' + rig.window->startTag(), QStringLiteral("&Start Start"));
    for (const char *name : locked)
        EXPECT_TRUE(rig.find(name)->isEnabled()) << name;
    EXPECT_FALSE(rig.scheduler.isPending());
    EXPECT_EQ(rig.text("lblActualAttempts"), QStringLiteral("2 of 2"));
    EXPECT_TRUE(rig.window->close());
}

TEST(MainWindow, ContinuousCyclingShowsTheCycleAndTheMinimisedCaption)
{
    WindowRig rig;
    rig.window->show();
    rig.field("txtDelay")->setText(QStringLiteral("1")); // paced: one target per step
    rig.pinger.setAnsweringAll();
    rig.find<QCheckBox>("chkContinueCycle")->setChecked(true);
    EXPECT_TRUE(rig.find<QLabel>("lblCurrentCycle")->isEnabled());
    target(rig, {7});
    rig.button("cmdStart")->click();
    for (int cycle = 1; cycle <= 3; ++cycle) {
        EXPECT_EQ(rig.text("lblActualCurrentCycle"), QString::number(cycle));
        rig.pinger.deliverReplies();
        if (cycle < 3)
            rig.scheduler.runNext();
    }
    rig.window->showMinimized();
    rig.clock.advance(65.2);
    rig.window->run().onClockTick();
    EXPECT_EQ(rig.window->windowTitle(), QStringLiteral("0000:00:01:05 Vexal"));
    EXPECT_EQ(rig.text("lblActualAttempts") + ' ' + rig.text("lblActualResponse") + ' ' + rig.text("lblActualPercentage")
                  + ' ' + rig.text("lblUniqueResponses") + ' ' + rig.text("lblActualElapsedTime"),
              QStringLiteral("3 3 100% Unique IPs: 1 0000:00:01:05"));
    ASSERT_EQ(rig.find<QListWidget>("lstPositiveResponses")->count(), 1);
    EXPECT_EQ(rig.find<QListWidget>("lstPositiveResponses")->item(0)->text(), QStringLiteral("10.0.0.7"));
    rig.window->showNormal();
    EXPECT_EQ(rig.window->windowTitle(), QStringLiteral("Vexal"));
    rig.button("cmdStart")->click();
    rig.find<QCheckBox>("chkContinueCycle")->setChecked(false);
    EXPECT_TRUE(rig.text("lblActualCurrentCycle").isEmpty());
    EXPECT_FALSE(rig.find<QLabel>("lblCurrentCycle")->isEnabled());
}

TEST(MainWindow, CommandLineIsAppliedOnEveryActivationWhilePending)
{
    // Applied at the first showing: minimised, the address selected, started.
    // (That the single cycle's end ends the process, test_cli shows.)
    WindowRig rig(QStringLiteral("/ip 10.0.0.1 /t 500"));
    rig.pinger.setAnsweringAll();
    rig.window->show();
    QCoreApplication::processEvents();
    EXPECT_TRUE(rig.window->isMinimized());
    EXPECT_EQ(rig.field("txtTimeOut")->text(), QStringLiteral("500"));
    EXPECT_EQ(rig.pinger.sentAddresses(), QList<Ipv4>{makeIpv4(10, 0, 0, 1)});
    // Once the user has stopped it, the line is no longer pending: a later
    // single sweep by hand returns to idle.
    rig.button("cmdStart")->click();
    EXPECT_FALSE(rig.window->commandLinePending());
    rig.button("cmdStart")->click();
    rig.pinger.deliverReplies();
    rig.scheduler.runNext();
    EXPECT_EQ(rig.window->startTag(), QStringLiteral("Start"));

    // A start the checks refuse is tried again when a window of the program
    // shown over this one closes; a message box closing is no activation.
    WindowRig refused(QStringLiteral("/t 300"));
    refused.window->show();
    QCoreApplication::processEvents();
    ASSERT_EQ(refused.dialogs.messages.size(), 1);
    QDialog over(refused.window.get());
    QTimer::singleShot(0, &over, &QDialog::reject);
    refused.window->showModalOver(over);
    QCoreApplication::processEvents();
    EXPECT_EQ(refused.dialogs.messages.size(), 2);
}

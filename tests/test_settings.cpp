#include "app/commandline.h"
#include "app/settingscheck.h"
#include "app/startup.h"

#include "qtprinters.h"

#include <QLocale>

#include <gtest/gtest.h>

using namespace vexal;

TEST(SettingsCheck, ReportsOnlyTheFirstFaultNumericChecksFirst)
{
    QLocale::setDefault(QLocale::c());
    const QString packetNotValid = QStringLiteral("The value entered for the Packet Size is not valid.  Please reenter and try again!");
    const QString timeoutNotValid = QStringLiteral("The value entered for the Timeout is not valid.  Please reenter and try again!");
    const QString delayNotValid = QStringLiteral("The value entered for the Delay is not valid.  Please reenter and try again!");
    const QString packetRange = QStringLiteral(
        "The value entered for Packet Size is out of range.  Please reenter a valid number between 1 and 512!");
    const QString timeoutRange = QStringLiteral(
        "The value entered for the timeout is out of range.  Please reenter a valid number between 1 and 32000!");
    const QString delayRange = QStringLiteral(
        "The value entered for the delay is out of range.  Please reenter a valid number between 0 and 60!");
    struct Row
    {
        const char *packet, *timeout, *delay;
        const char *title; // nullptr: accepted
        QString text;
    };
    const Row rows[] = {
        {"64", "300", "0", nullptr, {}},
        {"512", "32000", "60", nullptr, {}},
        {"1", "1", "0", nullptr, {}},
        {"64.5", "299.9", "0.4", nullptr, {}},
        {" 64 ", " 300", "0 ", nullptr, {}},
        {"", "300", "0", "Packet Size", packetNotValid},
        {"abc", "xyz", "0", "Packet Size", packetNotValid},
        {"64", "", "0", "Timeout", timeoutNotValid},
        {"600", "300", "", "Delay", delayNotValid},
        {"513", "300", "0", "Packet Size", packetRange},
        {"512.5", "300", "0", "Packet Size", packetRange},
        {"0.5", "300", "0", "Packet Size", packetRange},
        {"0", "0", "99", "Packet Size", packetRange},
        {"64", "32001", "0", "Timeout", timeoutRange},
        {"64", "0", "61", "Timeout", timeoutRange},
        {"64", "300", "61", "Delay", delayRange},
        {"64", "300", "-1", "Delay", delayRange},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(std::string(row.packet) + "|" + row.timeout + "|" + row.delay);
        const auto fault = pingSettingsFault({row.packet, row.timeout, row.delay});
        ASSERT_EQ(fault.has_value(), row.title != nullptr);
        if (fault) {
            EXPECT_EQ(fault->title, QString::fromLatin1(row.title));
            EXPECT_EQ(fault->text, row.text);
        }
    }
}

TEST(StartUp, CommandLineIsTheArgumentsJoinedByBlanksAndSHides)
{
    EXPECT_EQ(commandLineFromArguments({"vexal"}), QString());
    EXPECT_EQ(commandLineFromArguments({"vexal", "/p", "32", "/ip", "10.0.0.1"}), QStringLiteral("/p 32 /ip 10.0.0.1"));
    EXPECT_TRUE(commandLineHides(QStringLiteral("/ip 10.0.0.1 /s")));
    EXPECT_TRUE(commandLineHides(QStringLiteral("/Silent")));
    EXPECT_FALSE(commandLineHides(QStringLiteral("/ip 10.0.0.1 /c")));
}

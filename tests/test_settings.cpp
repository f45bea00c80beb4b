#include "app/settingscheck.h"
#include "app/startup.h"

#include <QLocale>

#include "qtprinters.h"

#include <gtest/gtest.h>

using namespace vexal;

namespace {

const char *const PacketNotValid =
    "The value entered for the Packet Size is not valid.  Please reenter and try again!";
const char *const TimeoutNotValid =
    "The value entered for the Timeout is not valid.  Please reenter and try again!";
const char *const DelayNotValid =
    "The value entered for the Delay is not valid.  Please reenter and try again!";
const char *const PacketRange =
    "The value entered for Packet Size is out of range.  Please reenter a valid number between 1 and 512!";
const char *const TimeoutRange =
    "The value entered for the timeout is out of range.  Please reenter a valid number between 1 and 32000!";
const char *const DelayRange =
    "The value entered for the delay is out of range.  Please reenter a valid number between 0 and 60!";

} // namespace

TEST(SettingsCheck, ReportsOnlyTheFirstFaultNumericChecksFirst)
{
    QLocale::setDefault(QLocale::c());
    struct Row
    {
        const char *packet, *timeout, *delay;
        const char *title; // nullptr: accepted
        const char *text;
    };
    const Row rows[] = {
        {"64", "300", "0", nullptr, nullptr},
        {"512", "32000", "60", nullptr, nullptr},
        {"1", "1", "0", nullptr, nullptr},
        {"64.5", "299.9", "0.4", nullptr, nullptr},
        {" 64 ", " 300", "0 ", nullptr, nullptr},
        {"", "300", "0", "Packet Size", PacketNotValid},
        {"abc", "xyz", "0", "Packet Size", PacketNotValid},
        {"64", "", "0", "Timeout", TimeoutNotValid},
        {"64", "300", "", "Delay", DelayNotValid},
        {"600", "300", "", "Delay", DelayNotValid},
        {"513", "300", "0", "Packet Size", PacketRange},
        {"512.5", "300", "0", "Packet Size", PacketRange},
        {"0.5", "300", "0", "Packet Size", PacketRange},
        {"0", "0", "99", "Packet Size", PacketRange},
        {"64", "32001", "0", "Timeout", TimeoutRange},
        {"64", "0", "0", "Timeout", TimeoutRange},
        {"64", "0", "61", "Timeout", TimeoutRange},
        {"64", "300", "61", "Delay", DelayRange},
        {"64", "300", "-1", "Delay", DelayRange},
    };
    for (const Row &row : rows) {
        const auto fault = pingSettingsFault({QString::fromLatin1(row.packet),
                                              QString::fromLatin1(row.timeout),
                                              QString::fromLatin1(row.delay)});
        const std::string where = std::string(row.packet) + "|" + row.timeout + "|" + row.delay;
        if (!row.title) {
            EXPECT_FALSE(fault.has_value()) << where;
            continue;
        }
        ASSERT_TRUE(fault.has_value()) << where;
        EXPECT_EQ(fault->title, QString::fromLatin1(row.title)) << where;
        EXPECT_EQ(fault->text, QString::fromLatin1(row.text)) << where;
    }
}

TEST(StartUp, CommandLineIsTheArgumentsJoinedByBlanks)
{
    EXPECT_EQ(commandLineFromArguments({"vexal"}), QString());
    EXPECT_EQ(commandLineFromArguments({"vexal", "/p", "32", "/ip", "10.0.0.1"}),
              QStringLiteral("/p 32 /ip 10.0.0.1"));
    EXPECT_EQ(commandLineFromArguments({"/usr/bin/vexal", "/?"}), QStringLiteral("/?"));
}

#include "common/ipv4.h"
#include "common/numerictext.h"
#include "common/procedures.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>

#include <climits>

#include "qtprinters.h"

#include <gtest/gtest.h>

using namespace vexal;

TEST(NumericText, AcceptsTheNumberGrammarOnly)
{
    QLocale::setDefault(QLocale::c());
    struct Row
    {
        const char *text;
        bool numeric;
        double value;
    };
    const Row rows[] = {
        {"64", true, 64},          {"  300  ", true, 300},   {"\t7", true, 7},
        {"+5", true, 5},           {"-5", true, -5},         {"64.5", true, 64.5},
        {".5", true, 0.5},         {"5.", true, 5},          {"1e3", true, 1000},
        {"1.5E-2", true, 0.015},   {"2e+1", true, 20},       {"0", true, 0},
        {"", false, 0},            {"   ", false, 0},        {".", false, 0},
        {"+", false, 0},           {"1e", false, 0},         {"e5", false, 0},
        {"abc", false, 0},         {"12a", false, 0},        {"1 2", false, 0},
        {"0x10", false, 0},        {"1,000", false, 0},      {"$5", false, 0},
        {"--5", false, 0},         {"1e999", false, 0},      {"5-", false, 0},
    };
    for (const Row &row : rows) {
        const auto value = numericValue(QString::fromLatin1(row.text));
        EXPECT_EQ(value.has_value(), row.numeric) << "text: \"" << row.text << '"';
        EXPECT_EQ(isNumericText(QString::fromLatin1(row.text)), row.numeric);
        if (value && row.numeric) {
            EXPECT_DOUBLE_EQ(*value, row.value) << row.text;
        }
    }
}

TEST(NumericText, FollowsTheLocaleDecimalSeparator)
{
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(numericValue(QStringLiteral("64,5")), 64.5);
    EXPECT_FALSE(numericValue(QStringLiteral("64.5")).has_value());
    QLocale::setDefault(QLocale::c());
}

TEST(NumericText, RoundingRules)
{
    // The delay rounds halves to even; timeout and packet size round down.
    const std::pair<double, long long> halfEven[] = {
        {0.4, 0}, {0.5, 0}, {1.5, 2}, {2.5, 2}, {3.5, 4}, {2.6, 3}, {60, 60}, {-0.5, 0}, {-1.5, -2},
        {1e210, LLONG_MAX}, {-1e210, LLONG_MIN}}; // no undefined cast beyond long long
    for (auto [in, out] : halfEven)
        EXPECT_EQ(roundHalfEven(in), out) << in;
    EXPECT_EQ(wholeNumberDown(-1e210), LLONG_MIN);
    EXPECT_EQ(wholeNumberDown(64.9), 64);
    EXPECT_EQ(wholeNumberDown(1.0), 1);
    EXPECT_EQ(wholeNumberDown(32000.99), 32000);
}

TEST(Procedures, TimeStampText)
{
    EXPECT_EQ(timeStampText(QDateTime(QDate(2026, 12, 5), QTime(19, 12, 16))),
              QStringLiteral("Dec 5, 2026 07:12:16 PM"));
    EXPECT_EQ(timeStampText(QDateTime(QDate(2027, 1, 31), QTime(0, 5, 9))),
              QStringLiteral("Jan 31, 2027 12:05:09 AM"));
    EXPECT_EQ(timeStampText(QDateTime(QDate(2026, 7, 4), QTime(12, 0, 0))),
              QStringLiteral("Jul 4, 2026 12:00:00 PM"));
}

TEST(Procedures, FileInUseProbesByOpeningForOutput)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());

    const QString fresh = dir.filePath(QStringLiteral("new.txt"));
    EXPECT_FALSE(fileInUse(fresh));
    EXPECT_TRUE(QFile::exists(fresh)) << "the probe creates a missing file";

    const QString existing = dir.filePath(QStringLiteral("old.txt"));
    {
        QFile f(existing);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("previous run\r\n");
    }
    EXPECT_FALSE(fileInUse(existing));
    EXPECT_EQ(QFileInfo(existing).size(), 0) << "the probe empties an existing file";

    EXPECT_TRUE(fileInUse(dir.filePath(QStringLiteral("missing-folder/log.txt"))));
    EXPECT_TRUE(fileInUse(dir.path())) << "a folder cannot be written as a file";
    EXPECT_TRUE(fileInUse(QString()));
}

TEST(Ipv4, TextAndParse)
{
    EXPECT_EQ(ipv4Text(makeIpv4(10, 0, 0, 7)), QStringLiteral("10.0.0.7"));
    EXPECT_EQ(ipv4Text(makeIpv4(255, 255, 255, 255)), QStringLiteral("255.255.255.255"));
    EXPECT_EQ(ipv4Text(0), QStringLiteral("0.0.0.0"));
    EXPECT_EQ(ipv4Text(makeIpv4(127, 10, 100, 9)), QStringLiteral("127.10.100.9"));
    EXPECT_EQ(parseIpv4(QStringLiteral("198.51.100.2")), makeIpv4(198, 51, 100, 2));
    for (const char *bad : {"1.2.3", "1.2.3.4.5", "256.1.1.1", "1..2.3", " 1.2.3.4", "1.2.3.a", "1.2.3.1000"})
        EXPECT_FALSE(parseIpv4(QString::fromLatin1(bad)).has_value()) << bad;
}

#include "common/ipv4.h"
#include "common/numerictext.h"
#include "common/procedures.h"

#include "qtprinters.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QTemporaryDir>

#include <climits>

#include <gtest/gtest.h>

using namespace vexal;

TEST(NumericText, AcceptsTheNumberGrammarOnlyWithTheLocalesSeparator)
{
    QLocale::setDefault(QLocale::c());
    const std::pair<const char *, std::optional<double>> rows[] = {
        {"64", 64}, {"  300  ", 300}, {"\t7", 7}, {"+5", 5}, {"-5", -5}, {"64.5", 64.5}, {".5", 0.5},
        {"5.", 5}, {"1e3", 1000}, {"1.5E-2", 0.015}, {"2e+1", 20}, {"0", 0}, {"", {}}, {"   ", {}},
        {".", {}}, {"+", {}}, {"1e", {}}, {"e5", {}}, {"abc", {}}, {"12a", {}}, {"1 2", {}},
        {"0x10", {}}, {"1,000", {}}, {"$5", {}}, {"--5", {}}, {"1e999", {}}, {"5-", {}}};
    for (const auto &[text, value] : rows)
        EXPECT_EQ(numericValue(QString::fromLatin1(text)), value) << '"' << text << '"';
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(numericValue(QStringLiteral("64,5")), 64.5);
    EXPECT_EQ(numericValue(QStringLiteral("64.5")), std::nullopt);
    QLocale::setDefault(QLocale::c());
}

TEST(NumericText, DelayRoundsHalvesToEvenTimeoutAndSizeRoundDown)
{
    // The delay rounds halves to even; timeout and packet size round down.
    const std::pair<double, long long> halfEven[] = {
        {0.4, 0}, {0.5, 0}, {1.5, 2}, {2.5, 2}, {3.5, 4}, {2.6, 3}, {60, 60}, {-0.5, 0}, {-1.5, -2},
        {1e210, LLONG_MAX}, {-1e210, LLONG_MIN}}; // no undefined cast beyond long long
    for (auto [in, out] : halfEven)
        EXPECT_EQ(roundHalfEven(in), out) << in;
    EXPECT_EQ(wholeNumberDown(-1e210), LLONG_MIN);
    EXPECT_EQ(wholeNumberDown(64.9), 64);
    EXPECT_EQ(wholeNumberDown(32000.99), 32000);
}

TEST(Procedures, TimeStampAndDottedAddresses)
{
    EXPECT_EQ(timeStampText(QDateTime(QDate(2026, 12, 5), QTime(19, 12, 16))),
              QStringLiteral("Dec 5, 2026 07:12:16 PM"));
    EXPECT_EQ(timeStampText(QDateTime(QDate(2027, 1, 31), QTime(0, 5, 9))),
              QStringLiteral("Jan 31, 2027 12:05:09 AM"));
    EXPECT_EQ(ipv4Text(makeIpv4(10, 0, 100, 7)) + ' ' + ipv4Text(makeIpv4(255, 255, 9, 99)) + ' ' + ipv4Text(0),
              QStringLiteral("10.0.100.7 255.255.9.99 0.0.0.0"));

    struct Row
    {
        const char *text;
        std::optional<Octets> ip;    // ipOctets / isValidIP
        std::optional<Octets> split; // splitAddress
    };
    const Octets tenOne{10, 0, 0, 1}, top{255, 255, 255, 255};
    const Row rows[] = {
        {"10.0.0.1", tenOne, tenOne}, {"10. 0.0.1", tenOne, tenOne}, {"255.255.255.255", top, top},
        {"0.0.0.0", Octets{}, Octets{}}, {"10..0.1", {}, {}}, {"10.0.0", {}, {}}, {"10.0.0.1.1", {}, {}},
        {"10.0.0.256", {}, {}}, {"10.0.0.-1", {}, {}}, {"10.0.0.x", {}, {}}, {"", {}, {}},
        {"10.0.0.0001", {}, tenOne}, // four characters are too many for an octet list
        {"1e210.0.0.0", {}, {}},     // beyond long long, once an undefined conversion
    };
    for (const Row &row : rows) {
        const QString text = QString::fromLatin1(row.text);
        EXPECT_EQ(ipOctets(text), row.ip) << row.text;
        EXPECT_EQ(isValidIP(text), row.ip.has_value()) << row.text;
        EXPECT_EQ(splitAddress(text), row.split) << row.text;
    }
}

TEST(Procedures, FileInUseProbesByOpeningForOutput)
{
    QTemporaryDir dir;
    const QString fresh = dir.filePath(QStringLiteral("new.txt"));
    EXPECT_FALSE(fileInUse(fresh));
    EXPECT_TRUE(QFile::exists(fresh)) << "the probe creates a missing file";

    const QString existing = dir.filePath(QStringLiteral("old.txt"));
    QFile file(existing);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("previous run\r\n") > 0);
    file.close();
    EXPECT_FALSE(fileInUse(existing));
    EXPECT_EQ(QFileInfo(existing).size(), 0) << "the probe empties an existing file";

    for (const QString &path : {dir.filePath(QStringLiteral("missing-folder/log.txt")), dir.path(), QString()})
        EXPECT_TRUE(fileInUse(path)) << path.toStdString();
}

// The logic beneath the windows: numeric text, addresses and their lists,
// the settings check and the command line.
#include "addresses/addressentry.h"
#include "addresses/octetlist.h"
#include "addresses/selectioncheck.h"
#include "common/ipv4.h"
#include "common/logsettings.h"
#include "common/numerictext.h"
#include "common/procedures.h"
#include "run/commandline.h"
#include "run/hostmonitor.h"
#include "run/monitorline.h"
#include "run/settingscheck.h"

#include "qtprinters.h"

#include <QLocale>
#include <QProcess>

#include <climits>
#include <ctime>

#include <gtest/gtest.h>

using namespace vexal;
using Action = EntryKeyOutcome::Action;

namespace {

OctetList one(int position)
{
    OctetList list;
    list.setSelected(position, true);
    return list;
}

// A main window on paper: the settings start at the window's defaults, the
// probes answer from a tiny imaginary folder, everything is recorded.
class RecordingTarget final : public CommandLineTarget
{
public:
    QStringList calls; // minimise, hide, start, in order
    QString packetSize = "64", timeout = "300", delay = "0";
    bool ticked = false;
    AddressSet lists;
    LogSettings settings;
    QStringList errors;

    void minimise() override { calls << "minimise"; }
    void hide() override { calls << "hide"; }
    void setPacketSizeText(const QString &text) override { packetSize = text; }
    void setTimeoutText(const QString &text) override { timeout = text; }
    void setDelayText(const QString &text) override { delay = text; }
    void tickContinuousCycle() override { ticked = true; }
    void selectOctet(int list, int position) override { lists.at(list).setSelected(position, true); }
    LogSettings &logSettings() override { return settings; }
    bool isValidIP(const QString &text) override { return vexal::isValidIP(text); }
    bool fileExists(const QString &path) override { return path.endsWith("sweep.ip") || path == "bad.ip"; }
    bool validFile(const QString &name) override { return !name.isEmpty() && !name.contains('"'); }
    bool validMDB(const QString &name) override { return name.endsWith(".mdb"); }
    bool correctIPFileType(const QString &name) override { return name.endsWith("sweep.ip"); }
    // sweep.ip holds 192.168.1.5 and 192.168.1.6.
    void readAndPopulate(const QString &) override
    {
        lists = {};
        for (const auto &[k, p] : {std::pair{0, 192}, {1, 168}, {2, 1}, {3, 5}, {3, 6}})
            lists[k].setSelected(p, true);
    }
    void createErrorLog(const QString &message) override { errors << message; }
    void start() override { calls << "start"; }

    // "10,11|0|0|1,2": the selected positions of each list.
    QString selectionText() const
    {
        QStringList text;
        for (const OctetList &list : lists) {
            QStringList positions;
            for (int p = 0; p < OctetList::EntryCount; ++p)
                if (list.isSelected(p))
                    positions << QString::number(p);
            text << positions.join(',');
        }
        return text.join('|');
    }
};

} // namespace

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

TEST(Procedures, DottedAddresses)
{
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

TEST(OctetEntry, TypedKeysSelectByPrefix)
{
    struct Row
    {
        const char *keys;
        int selected, highest;
        const char *field;
    };
    const Row rows[] = {
        {"1", 111, 199, "1"}, {"19", 11, 199, "19"}, {"192", 1, 192, "192"}, {"2", 67, 255, "2"},
        {"25", 7, 255, "25"}, {"0", 1, 0, "0"}, {"00", 0, -1, "00"}, {"9", 11, 99, "9"}, {"26", 1, 26, "26"},
        {"*", 256, 255, "*"}, {"12*", 256, 255, "*"},
        // A full stop never matches, so the next digit clears the list.
        {"1.2", 0, -1, "1.2"}, {".5", 0, -1, ".5"},
        // Backspace edits the field but keeps the selection of the longer prefix.
        {"19\b", 11, 199, "1"},
        // A full field passes every key on unexamined, to its own length limit.
        {"123*", 1, 123, "123"}};
    for (const Row &row : rows) {
        OctetList list = one(77); // a mouse selection is replaced too
        QString field;
        for (const char key : std::string_view(row.keys)) {
            const EntryKeyOutcome outcome = entryKeyPress(field, char16_t(key));
            if (outcome.selection)
                list = *outcome.selection;
            if (outcome.action == Action::ShowStar)
                field = QStringLiteral("*");
            else if (outcome.action == Action::PassThrough && key == '\b')
                field.chop(1);
            else if (outcome.action == Action::PassThrough && field.size() < OctetFieldMaxLength)
                field += QLatin1Char(key);
        }
        EXPECT_EQ(list.selectedCount(), row.selected) << row.keys;
        EXPECT_EQ(list.highestSelected(), row.highest) << row.keys;
        EXPECT_EQ(field, QString::fromLatin1(row.field));
    }
    for (char16_t code : {u'a', u'Z', u' ', u'-', u',', char16_t(13), char16_t(27), char16_t(22)}) {
        const EntryKeyOutcome outcome = entryKeyPress(QStringLiteral("1"), code);
        EXPECT_EQ(outcome.action, Action::Discard) << int(code);
        EXPECT_FALSE(outcome.selection.has_value());
    }
}

TEST(OctetEntry, FocusLoss)
{
    OctetList list;
    EXPECT_EQ(entryFocusLossPosition(QString(), list), std::nullopt) << "an empty field changes nothing";
    EXPECT_EQ(entryFocusLossPosition(QStringLiteral("1.2"), list), 0) << "nothing selected: 0 becomes selected";
    list.setSelected(19, true);
    list.setSelected(190, true);
    EXPECT_EQ(entryFocusLossPosition(QStringLiteral("19"), list), 190);
}

TEST(SelectionCheck, NamesTheFirstEmptyListAndRefusesAllZero)
{
    const QString zeros = QStringLiteral(
        "Each part of the IP address cannot contain a 0.  This will generate an invalid IP address.  "
        "Please correct this problem to continue");
    OctetList zeroAndMore = one(0);
    zeroAndMore.setSelected(7, true);
    const std::pair<AddressSet, QString> rows[] = {
        {AddressSet{}, "The first list box has no entries selected.  Please select at least one entry to continue!"},
        {{one(10), OctetList{}, OctetList{}, OctetList{}},
         "The second list box has no entries selected.  Please select at least one entry to continue!"},
        {{one(10), one(1), OctetList{}, one(5)},
         "The third list box has no entries selected.  Please select at least one entry to continue!"},
        {{one(10), one(1), one(2), OctetList{}},
         "The fourth list box has no entries selected.  Please select at least one entry to continue!"},
        {{one(0), one(0), one(0), one(0)}, zeros},
        {{zeroAndMore, one(0), OctetList::all(), one(0)}, zeros},
        {{one(10), one(0), one(0), one(0)}, QString()},
        {{one(10), one(1), one(2), one(5)}, QString()},
    };
    for (const auto &[lists, text] : rows) {
        const auto fault = listSelectionFault(lists);
        EXPECT_EQ(fault.has_value(), !text.isEmpty()) << text.toStdString();
        if (fault) {
            EXPECT_EQ(fault->title, QStringLiteral("List Box"));
            EXPECT_EQ(fault->text, text);
        }
    }
}

TEST(SettingsCheck, ReportsOnlyTheFirstFaultNumericChecksFirst)
{
    QLocale::setDefault(QLocale::c());
    const QString packetNotValid = QStringLiteral(
        "The value entered for the Packet Size is not valid.  Please reenter and try again!");
    const QString timeoutNotValid = QStringLiteral(
        "The value entered for the Timeout is not valid.  Please reenter and try again!");
    const QString delayNotValid = QStringLiteral(
        "The value entered for the Delay is not valid.  Please reenter and try again!");
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

TEST(CommandLine, AppliesEachOptionLogsEachRefusalAndAlwaysStarts)
{
    QLocale::setDefault(QLocale::c());
    using enum LogMode;
    struct Row
    {
        const char *commandLine;
        QStringList errors = {};
        const char *packetSize = "64", *timeout = "300", *delay = "0";
        bool ticked = false, hidden = false;
        const char *selections = "|||";
        LogMode textMode = LogNone;
        const char *textFile = "";
        LogMode databaseMode = LogNone;
        const char *databaseFile = "";
    };
    const Row rows[] = {
        {"/p 512 /t 32000 /d 60", {}, "512", "32000", "60"},
        {"/p 513 /t 32001 /d 61",
         {"The packet size, 513 is not in the valid range from 1 to 512",
          "The timeout, 32001, is not in the valid range 1 to 32000",
          "The delay, 61, is not in the valid range 0 to 60"}},
        {"/p 1000 /t 100000 /d 100",
         {"The packet size, 1000, is invalid", "The timeout, 100000, is invalid", "The delay, 100, is invalid"}},
        {"/p0", {"The packet size, 0 is not in the valid range from 1 to 512"}},
        {"/p", {"The packet size, , is invalid"}},
        {"/P 32", {}, "32"},
        {"/ p 32 ", {}, "32"},
        // Halves round to even before the range test; the text stays as typed.
        {"/p 6.5 /t 0.5 /d .5", {"The timeout, 0.5, is not in the valid range 1 to 32000"}, "6.5", "300", ".5"},
        {"/p 0.5 /t .6 /d -1",
         {"The packet size, 0.5 is not in the valid range from 1 to 512",
          "The delay, -1, is not in the valid range 0 to 60"}, "64", ".6"},
        {"/d 6.5 /p abc", {"The delay, 6.5, is invalid", "The packet size, abc, is invalid"}},
        {"/t 9e99 /p 9e9",
         {"The timeout, 9e99, is not in the valid range 1 to 32000",
          "The packet size, 9e9 is not in the valid range from 1 to 512"}},
        {"/p 32 /p 12x /p 48", {"The packet size, 12x, is invalid"}, "48"},
        {"cheese", {}, "64", "300", "0", true},
        {"/silent", {}, "64", "300", "0", false, true},
        {"/x /? // /l /lf", {}},
        {.commandLine = "/lfu a.txt /lfa b.txt", .textMode = LogAll, .textFile = "b.txt"},
        {.commandLine = "/LFA b.txt /lfu My Logs.txt", .textMode = LogUnique, .textFile = "My Logs.txt"},
        {.commandLine = R"(/lfa run.txt /lfu """q.txt""")", .errors = {"The file, \"q.txt\", is invalid"},
         .textMode = LogAll, .textFile = "run.txt"},
        // A path with a folder, as the whole argument after an option standing
        // alone, is its value; anything else is split at every "/".
        {.commandLine = "/lfa logs/run.txt", .textMode = LogAll, .textFile = "logs/run.txt"},
        {.commandLine = R"(/lfa /var/x/y.txt /ip "/srv/Office Scans/sweep.ip" /s)", .hidden = true,
         .selections = "192|168|1|5,6", .textMode = LogAll, .textFile = "/var/x/y.txt"},
        {.commandLine = "/LDA /var/db/run.mdb /p ./64", .errors = {"The packet size, ./64, is invalid"},
         .databaseMode = LogAll, .databaseFile = "/var/db/run.mdb"},
        {.commandLine = R"(/lfa/x "/ip 10.0.0.1/c" /ip /s)", .errors = {"The file, , is invalid"}, .ticked = true,
         .hidden = true, .selections = "10|0|0|1"},
        {.commandLine = "/ldu a.mdb /lda run.txt", .errors = {"The file, run.txt, is invalid"},
         .databaseMode = LogUnique, .databaseFile = "a.mdb"},
        {"/ip 10.0.0.256", {}},
        {.commandLine = "/ip 10..0.1 /ip 10. 0.0.1", .selections = "10|0|0|1"},
        {.commandLine = "/ip 10.0.0.1 /ip 11.0.0.2", .selections = "10,11|0|0|1,2"},
        {.commandLine = "/ip 10.0.0.1 /ip sweep.ip", .selections = "192|168|1|5,6"},
        {.commandLine = "/ip sweep.ip /ip 10.0.0.1", .selections = "10,192|0,168|0,1|1,5,6"},
        {.commandLine = "/ip 10.0.0.1 /ip bad.ip", .errors = {"The ip file, bad.ip, is invalid"},
         .selections = "10|0|0|1"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.commandLine);
        RecordingTarget target;
        // The arguments a shell makes of the line ("""q.txt""" keeps its quotes).
        const CommandLine line(QProcess::splitCommand(QString::fromUtf8(row.commandLine)));
        parseCommands(line, target);
        EXPECT_EQ(target.errors, row.errors);
        EXPECT_EQ(target.packetSize + '|' + target.timeout + '|' + target.delay,
                  QStringLiteral("%1|%2|%3").arg(row.packetSize, row.timeout, row.delay));
        EXPECT_EQ(target.ticked, row.ticked);
        EXPECT_EQ(target.selectionText(), QString::fromUtf8(row.selections));
        EXPECT_EQ(target.settings.TextLogMode, row.textMode);
        EXPECT_EQ(target.settings.TextLogFile, QString::fromUtf8(row.textFile));
        EXPECT_EQ(target.settings.DatabaseLogMode, row.databaseMode);
        EXPECT_EQ(target.settings.DatabaseLogFile, QString::fromUtf8(row.databaseFile));
        // Minimised first, hidden only for "/s", and Start pressed once, last.
        EXPECT_EQ(target.calls.join(' '), row.hidden ? "minimise hide start" : "minimise start");
        EXPECT_EQ(commandLineHides(line), row.hidden) << "as known before the window exists";
        EXPECT_EQ(commandLineContinues(line), row.ticked);
    }
    EXPECT_EQ(commandLineFromArguments({"vexal", "/p", "32"}).text(), QStringLiteral("/p 32"));
    EXPECT_TRUE(commandLineFromArguments({"vexal"}).isEmpty());
}

// The local zone's offset is written out whatever it is, through summer
// time, west of Greenwich and at zero; seconds are cut, round trips rounded.
TEST(MonitorLine, TimeWithItsOffsetWordAddressAndRoundTrip)
{
    const struct { const char *zone; qint64 atMs; bool up; quint32 roundTripUs; const char *line; } rows[] = {
        {"CET-1CEST,M3.5.0,M10.5.0/3", 1796645162999, true, 410, "2026-12-07T13:06:02+01:00 up 198.18.0.5 0.41 ms\n"},
        {"CET-1CEST,M3.5.0,M10.5.0/3", 1796645380000, false, 0, "2026-12-07T13:09:40+01:00 down 198.18.0.5\n"},
        {"CET-1CEST,M3.5.0,M10.5.0/3", 1783425600000, true, 12345, "2026-07-07T14:00:00+02:00 up 198.18.0.5 12.35 ms\n"},
        {"NST3:30", 1796645162000, true, 5, "2026-12-07T08:36:02-03:30 up 198.18.0.5 0.01 ms\n"},
        {"UTC0", 1796645162000, true, 32000000, "2026-12-07T12:06:02+00:00 up 198.18.0.5 32000.00 ms\n"},
    };
    const QByteArray zoneBefore = qgetenv("TZ");
    for (const auto &row : rows) {
        qputenv("TZ", row.zone);
        ::tzset();
        EXPECT_EQ(monitorLine({makeIpv4(198, 18, 0, 5), row.up, row.atMs, row.roundTripUs}), row.line) << row.zone;
    }
    zoneBefore.isNull() ? qunsetenv("TZ") : qputenv("TZ", zoneBefore);
    ::tzset();
}

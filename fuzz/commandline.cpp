// The command-line parser against a target that checks every call it gets,
// and the text rules beneath it: the address checks, splitAddress and
// numeric text.
#include "common/ipv4.h"
#include "common/logsettings.h"
#include "common/numerictext.h"
#include "common/procedures.h"
#include "fuzzcheck.h"
#include "run/commandline.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include <QRegularExpression>
#include <QStringList>

using namespace vexal;
using vexal::fuzz::require;

namespace {

QString blankTrimmed(QString text)
{
    static const QRegularExpression blanksAround(QStringLiteral("\\A +| +\\z"));
    return text.remove(blanksAround);
}

// Answers the probes by a fixed rule of its own and checks that the parser
// acts only on what it was told, between minimise and start.
class CheckingTarget final : public CommandLineTarget
{
public:
    bool minimised = false, started = false;
    QStringList paths; // the arguments taken whole, trimmed
    mutable QStringList received; // every value the probes were given
    LogSettings settings;

    void minimise() override { minimised = true; }
    void hide() override { value({}); }
    void setPacketSizeText(const QString &text) override { inRange(text, 3, 1, 512); }
    void setTimeoutText(const QString &text) override { inRange(text, 5, 1, 32000); }
    void setDelayText(const QString &text) override { inRange(text, 2, 0, 60); }
    void tickContinuousCycle() override { value({}); }
    void selectOctet(int list, int position) override
    {
        const auto octets = ipOctets(m_address);
        require(octets && list == m_selected++ && (*octets)[std::size_t(list)] == position,
                "only the octets of an address the check accepted are selected, in order");
    }
    LogSettings &logSettings() override { return settings; }
    bool isValidIP(const QString &text) override
    {
        m_address = vexal::isValidIP(value(text)) ? text : QString();
        m_selected = 0;
        return !m_address.isEmpty();
    }
    bool fileExists(const QString &path) override { return value(path).size() % 2 == 0; }
    bool validFile(const QString &name) override { return acceptedLog(value(name)); }
    bool validMDB(const QString &name) override { return acceptedLog(value(name)); }
    bool correctIPFileType(const QString &name) override
    {
        require(fileExists(name), "only an existing file is checked");
        m_checkedFile = name.endsWith(QLatin1Char('p')) ? name : QString();
        return !m_checkedFile.isEmpty();
    }
    void readAndPopulate(const QString &name) override
    {
        require(!name.isEmpty() && name == m_checkedFile, "only a file that passed the check is read");
    }
    void createErrorLog(const QString &) override { value({}); }
    void start() override
    {
        value({});
        require(m_address.isEmpty() || m_selected == 4, "an accepted address selects all four octets");
        started = true;
    }

    static bool acceptedLog(const QString &name) { return name.size() % 3 != 0; }

private:
    // Values are trimmed of blanks. Only a path taken whole holds a slash,
    // and only within itself: what follows it up to the next option holds none.
    const QString &value(const QString &text) const
    {
        require(minimised && !started, "everything happens between minimise and start");
        require(text == blankTrimmed(text), "a value is trimmed");
        received << text;
        const auto within = [&text](const QString &path) {
            return text.startsWith(path) && !text.mid(path.size()).contains(QLatin1Char('/'));
        };
        require(!text.contains(QLatin1Char('/')) || std::any_of(paths.cbegin(), paths.cend(), within),
                "a value holds a slash only as a path taken whole");
        return text;
    }
    void inRange(const QString &text, qsizetype maxLength, long long low, long long high) const
    {
        const auto number = numericValue(value(text));
        require(number && text.size() <= maxLength && roundHalfEven(*number) >= low
                    && roundHalfEven(*number) <= high,
                "a field only gets a number in its range");
    }

    QString m_address, m_checkedFile;
    int m_selected = 0;
};

// Within the characters of a decimal number, the C library's strtod is a
// second opinion on what is a number and what it is worth. Where a double
// runs out (ERANGE) the text is numeric or not by the rule's own choice.
void checkNumericText(const QString &text)
{
    const std::optional<double> number = numericValue(text);
    require(isNumericText(text) == number.has_value(), "isNumericText agrees with numericValue");
    require(numericValue(QLatin1String(" \t") + text + QLatin1String("\t ")) == number,
            "blanks around a number do not change it");
    const QByteArray ascii = text.toLatin1();
    if (!text.isEmpty() && ascii.size() == text.size()
        && std::all_of(ascii.begin(), ascii.end(), [](char c) { return c && std::strchr("0123456789+-.eE", c); })) {
        char *end = nullptr;
        errno = 0;
        const double expected = std::strtod(ascii.constData(), &end);
        const bool whole = end == ascii.constData() + ascii.size();
        require(errno == ERANGE || (number.has_value() == whole && (!whole || *number == expected)),
                "numeric text is what strtod reads whole, with its value");
    }
    if (number && std::fabs(*number) < 1e15) {
        require(std::fabs(double(roundHalfEven(*number)) - *number) <= 0.5, "rounding moves at most a half");
        require(double(wholeNumberDown(*number)) <= *number, "rounding down never rounds up");
    }
}

// splitAddress read plainly: four parts between dots, each numeric text
// whose nearest whole number (halves to even) is a byte.
std::optional<Octets> splitReference(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return std::nullopt;
    Octets octets{};
    for (int k = 0; k < 4; ++k) {
        const auto value = numericValue(parts.at(k));
        if (!value || *value < -0.5 || *value > 255.5)
            return std::nullopt;
        const long long whole = roundHalfEven(*value);
        if (whole < 0 || whole > 255)
            return std::nullopt;
        octets[std::size_t(k)] = quint8(whole);
    }
    return octets;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const quint8 *data, std::size_t size)
{
    const QString text = fuzz::inputText(data, size);
    // The arguments as the process gets them, NUL-separated as in /proc/<pid>/cmdline.
    const CommandLine line(text.split(QChar(0)));
    CheckingTarget target;
    QStringList probed; // paths after a log or address option: a probe must see each
    for (qsizetype i = 0; i < line.arguments().size(); ++i) {
        if (!line.isWholeValue(i))
            continue;
        target.paths << blankTrimmed(line.arguments()[i]);
        if (QStringList{"/L", "/I"}.contains(blankTrimmed(line.arguments()[i - 1]).left(2).toUpper()))
            probed << target.paths.last();
    }
    parseCommands(line, target);
    require(target.started, "the parser always presses Start");
    for (const QString &path : probed)
        require(std::any_of(target.received.cbegin(), target.received.cend(),
                            [&path](const QString &value) { return value.startsWith(path); }),
                "a path taken whole reaches the probe whole");
    QStringList pieces = line.text().split(QLatin1Char('/'));
    for (QString &piece : pieces)
        piece = blankTrimmed(piece);
    require(!target.paths.isEmpty() || commandLineTokens(line) == pieces,
            "without a path taken whole, the text splits at every slash");
    for (const auto &[mode, file] : {std::pair{target.settings.TextLogMode, target.settings.TextLogFile},
                                     {target.settings.DatabaseLogMode, target.settings.DatabaseLogFile}})
        require((mode == LogMode::LogNone) == file.isEmpty() && (file.isEmpty() || CheckingTarget::acceptedLog(file)),
                "a log mode is set together with a file the probe accepted");

    checkNumericText(text);
    const std::optional<Octets> split = splitAddress(text);
    require(split == splitReference(text), "splitAddress follows its rule");
    if (const auto octets = ipOctets(text)) {
        require(vexal::isValidIP(text) && split == octets, "isValidIP and splitAddress agree with ipOctets");
        const QString dotted = ipv4Text(makeIpv4((*octets)[0], (*octets)[1], (*octets)[2], (*octets)[3]));
        require(ipOctets(dotted) == octets, "an address written out reads back the same");
    }
    if (const auto strict = parseIpv4(text))
        require(split && makeIpv4((*split)[0], (*split)[1], (*split)[2], (*split)[3]) == *strict,
                "a plain dotted quad splits to its own octets");
    if (split) {
        const Ipv4 address = makeIpv4((*split)[0], (*split)[1], (*split)[2], (*split)[3]);
        require(splitAddress(ipv4Text(address)) == split, "an address written out splits back the same");
    }
    return 0;
}

#include "run/commandline.h"

#include "common/logsettings.h"
#include "common/numerictext.h"

#include <QStringList>

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>

namespace vexal {

namespace {

// Only blanks are trimmed, not tabs or line ends: the grammar speaks of
// spaces, and anything else is part of the value the checks then judge.
QString trimSpaces(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin) == QLatin1Char(' '))
        ++begin;
    while (end > begin && text.at(end - 1) == QLatin1Char(' '))
        --end;
    return text.mid(begin, end - begin);
}

// Compares the leading characters after upper-casing them as a whole, so a
// letter whose capital is two letters ("ß" -> "SS") matches nothing.
bool startsWithLetters(const QString &token, QLatin1StringView letters)
{
    return token.size() >= letters.size() && token.left(letters.size()).toUpper() == letters;
}

QString valueAfter(const QString &token, qsizetype letterCount)
{
    return trimSpaces(token.mid(letterCount));
}

// The whole number is taken by rounding halves to even. A value too large to
// convert (1e99 fits the length limits) is out of range, never an overflow.
bool wholeNumberWithin(double value, long long low, long long high)
{
    if (!(std::fabs(value) <= 1e9))
        return false;
    const long long whole = roundHalfEven(value);
    return whole >= low && whole <= high;
}

struct NumericOption
{
    QChar letter;
    qsizetype maxLength;
    long long low, high;
    const char *subject;
    // The three range messages differ in their wording and commas; each is
    // kept whole rather than composed.
    const char *rangeTail;
    void (CommandLineTarget::*store)(const QString &);
};

const std::array<NumericOption, 3> NumericOptions{{
    {QLatin1Char('P'), 3, 1, 512, "The packet size, ", " is not in the valid range from 1 to 512",
     &CommandLineTarget::setPacketSizeText},
    {QLatin1Char('T'), 5, 1, 32000, "The timeout, ", ", is not in the valid range 1 to 32000",
     &CommandLineTarget::setTimeoutText},
    {QLatin1Char('D'), 2, 0, 60, "The delay, ", ", is not in the valid range 0 to 60",
     &CommandLineTarget::setDelayText},
}};

void applyNumeric(const NumericOption &option, const QString &value, CommandLineTarget &target)
{
    const QString subject = QLatin1String(option.subject);
    const auto number = numericValue(value);
    if (!number || value.size() > option.maxLength) {
        target.createErrorLog(subject + value + QLatin1String(", is invalid"));
        return;
    }
    if (!wholeNumberWithin(*number, option.low, option.high)) {
        target.createErrorLog(subject + value + QLatin1String(option.rangeTail));
        return;
    }
    (target.*option.store)(value);
}

struct LogOption
{
    QLatin1StringView letters;
    bool database;
    LogMode mode;
};

const std::array<LogOption, 4> LogOptions{{
    {QLatin1StringView("LFU"), false, LogMode::LogUnique},
    {QLatin1StringView("LFA"), false, LogMode::LogAll},
    {QLatin1StringView("LDU"), true, LogMode::LogUnique},
    {QLatin1StringView("LDA"), true, LogMode::LogAll},
}};

void applyLog(const LogOption &option, const QString &name, CommandLineTarget &target)
{
    const bool accepted = option.database ? target.validMDB(name) : target.validFile(name);
    if (!accepted) {
        target.createErrorLog(QLatin1String("The file, ") + name + QLatin1String(", is invalid"));
        return;
    }
    LogSettings &settings = target.logSettings();
    if (option.database) {
        settings.DatabaseLogMode = option.mode;
        settings.DatabaseLogFile = name;
    } else {
        settings.TextLogMode = option.mode;
        settings.TextLogFile = name;
    }
}

// The list positions of a dotted address, each part's whole-number value.
// Empty when a part does not convert, so that an address probe that judges
// differently can never select a stray or out-of-range entry.
std::optional<std::array<int, 4>> octetPositions(const QString &address)
{
    const QStringList parts = address.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return std::nullopt;
    std::array<int, 4> positions{};
    for (int k = 0; k < 4; ++k) {
        const auto value = numericValue(parts.at(k));
        if (!value || !wholeNumberWithin(*value, 0, 255))
            return std::nullopt;
        positions[std::size_t(k)] = int(roundHalfEven(*value));
    }
    return positions;
}

void applyAddressOrFile(const QString &value, CommandLineTarget &target)
{
    if (target.isValidIP(value)) {
        if (const auto positions = octetPositions(value)) {
            for (int k = 0; k < 4; ++k)
                target.selectOctet(k, (*positions)[std::size_t(k)]);
        }
        return;
    }
    if (!target.fileExists(value))
        return;
    // A refused file has already shown its own message box; the error log
    // gets the command line's complaint as well.
    if (target.correctIPFileType(value))
        target.readAndPopulate(value);
    else
        target.createErrorLog(QLatin1String("The ip file, ") + value + QLatin1String(", is invalid"));
}

void applyToken(const QString &token, CommandLineTarget &target)
{
    if (token.isEmpty())
        return;

    const QString first = token.left(1).toUpper();
    for (const NumericOption &option : NumericOptions) {
        if (first == option.letter) {
            applyNumeric(option, valueAfter(token, 1), target);
            return;
        }
    }
    if (first == QLatin1String("C")) {
        target.tickContinuousCycle();
        return;
    }
    if (first == QLatin1String("S")) {
        target.hide();
        return;
    }
    for (const LogOption &option : LogOptions) {
        if (startsWithLetters(token, option.letters)) {
            applyLog(option, valueAfter(token, option.letters.size()), target);
            return;
        }
    }
    if (startsWithLetters(token, QLatin1StringView("IP")))
        applyAddressOrFile(valueAfter(token, 2), target);
}

// An option that takes a value, standing alone as a whole argument: "/lfa".
bool isValueOptionAlone(const QString &argument)
{
    static const QLatin1StringView options[] = {
        QLatin1StringView("P"),   QLatin1StringView("T"),   QLatin1StringView("D"),   QLatin1StringView("LFU"),
        QLatin1StringView("LFA"), QLatin1StringView("LDU"), QLatin1StringView("LDA"), QLatin1StringView("IP")};
    const QString word = trimSpaces(argument);
    if (!word.startsWith(QLatin1Char('/')))
        return false;
    const QString letters = word.mid(1).toUpper();
    return std::any_of(std::begin(options), std::end(options),
                       [&letters](QLatin1StringView option) { return letters == option; });
}

} // namespace

CommandLine::CommandLine(const QStringList &arguments)
    : m_arguments(arguments)
    , m_text(arguments.join(QLatin1Char(' ')))
{
    // Every Linux path with a folder holds a "/", which the rule would split
    // at. Only right after an option standing alone is such an argument a
    // path; "/s" alone holds no second "/" and stays an option.
    m_wholeValues.resize(arguments.size());
    for (qsizetype i = 1; i < arguments.size(); ++i)
        m_wholeValues[i] = !m_wholeValues[i - 1] && isValueOptionAlone(arguments[i - 1])
            && arguments[i].indexOf(QLatin1Char('/'), 1) > 0;
}

CommandLine::CommandLine(const QString &text)
    : CommandLine(QStringList(text))
{
}

bool CommandLine::isWholeValue(qsizetype i) const
{
    return i >= 0 && i < m_wholeValues.size() && m_wholeValues[i];
}

CommandLine commandLineFromArguments(const QStringList &arguments)
{
    return CommandLine(arguments.mid(1));
}

QStringList commandLineTokens(const CommandLine &commandLine)
{
    // The text split at every "/" but those of a value taken whole; the
    // piece before the first "/" is a token like any other.
    QStringList tokens(1);
    const QStringList &arguments = commandLine.arguments();
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        if (i > 0)
            tokens.last() += QLatin1Char(' ');
        if (commandLine.isWholeValue(i)) {
            tokens.last() += arguments[i];
            continue;
        }
        const QStringList pieces = arguments[i].split(QLatin1Char('/'));
        tokens.last() += pieces.first();
        tokens += pieces.mid(1);
    }
    for (QString &token : tokens)
        token = trimSpaces(token);
    return tokens;
}

bool commandLineHides(const CommandLine &commandLine)
{
    const QStringList tokens = commandLineTokens(commandLine);
    return std::any_of(tokens.cbegin(), tokens.cend(),
                       [](const QString &token) { return startsWithLetters(token, QLatin1StringView("S")); });
}

bool commandLineContinues(const CommandLine &commandLine)
{
    const QStringList tokens = commandLineTokens(commandLine);
    return std::any_of(tokens.cbegin(), tokens.cend(),
                       [](const QString &token) { return startsWithLetters(token, QLatin1StringView("C")); });
}

void parseCommands(const CommandLine &commandLine, CommandLineTarget &target)
{
    target.minimise();
    for (const QString &token : commandLineTokens(commandLine))
        applyToken(token, target);
    target.start();
}

} // namespace vexal

#pragma once

#include <QString>
#include <QStringList>

namespace vexal {

struct LogSettings;

// Everything the command line touches or asks, in the terms a user would
// act in: the main window's controls, the shared log settings, the file and
// address probes, the IP file reader, the error log and the Start button.
// The main window (or the headless run) implements it; tests record it.
class CommandLineTarget
{
public:
    virtual ~CommandLineTarget() = default;

    // The main window's state.
    virtual void minimise() = 0;
    virtual void hide() = 0;

    // The ping settings fields (txtPacketSize, txtTimeOut, txtDelay); the
    // text is stored exactly as typed ("6.5" stays "6.5").
    virtual void setPacketSizeText(const QString &text) = 0;
    virtual void setTimeoutText(const QString &text) = 0;
    virtual void setDelayText(const QString &text) = 0;

    // Ticks chkContinueCycle and runs its click handler, as a user's click would.
    virtual void tickContinuousCycle() = 0;

    // Selects the entry at position (0..255) in lstIP(list), list 0..3,
    // leaving every other selection as it is.
    virtual void selectOctet(int list, int position) = 0;

    // The process-wide log settings; the command line writes the mode and
    // file name of either log.
    virtual LogSettings &logSettings() = 0;

    // Probes. isValidIP: a dotted address whose four parts the octet lists
    // hold. fileExists: an existing file. validFile: a text log of that name
    // can be written. validMDB: the database log can use that file.
    virtual bool isValidIP(const QString &text) = 0;
    virtual bool fileExists(const QString &path) = 0;
    virtual bool validFile(const QString &name) = 0;
    virtual bool validMDB(const QString &name) = 0;

    // The IP file check (shows its own message box when it refuses) and the
    // reader, which replaces every selection with the file's.
    virtual bool correctIPFileType(const QString &name) = 0;
    virtual void readAndPopulate(const QString &name) = 0;

    // Records one refused value in the error log (stamped with the current
    // date and time by the implementation).
    virtual void createErrorLog(const QString &message) = 0;

    // Presses Start: the sweep runs its own checks and decides.
    virtual void start() = 0;
};

// The program's command line: the arguments after the program's name, and
// their text joined by single blanks, the one string the "/" rule reads.
// The argument bounds matter in one place only: a Linux path given as the
// whole argument after an option that takes a value (see
// commandLineTokens). A line given as one text is a single argument, read
// by the "/" rule alone.
class CommandLine final
{
public:
    CommandLine() = default;
    explicit CommandLine(const QStringList &arguments);
    // Implicit: wherever a line is one string, it is one argument.
    CommandLine(const QString &text);

    const QStringList &arguments() const { return m_arguments; }
    const QString &text() const { return m_text; }
    bool isEmpty() const { return m_text.isEmpty(); }
    // Whether argument i is an option's value taken whole, "/" included.
    bool isWholeValue(qsizetype i) const;

private:
    QStringList m_arguments;
    QString m_text;
    QList<bool> m_wholeValues; // per argument
};

// The command line of a process from its arguments, the program's name first.
CommandLine commandLineFromArguments(const QStringList &arguments);

// Applies a command line to the target as if the user had made the same
// entries, then presses Start, always. Refused values never reach the
// screen; each goes to the error log and the rest of the line still applies.
// Nothing is kept between calls: a second call repeats everything.
void parseCommands(const CommandLine &commandLine, CommandLineTarget &target);

// The command line's tokens as the parser reads them: the pieces of its text
// between "/" characters, blanks trimmed. The one exception: when an option
// that takes a value (/p /t /d /lfu /lfa /ldu /lda /ip) is a whole argument
// and the next argument holds a "/" after its first character (a path with
// a folder in it: /var/log/vexal/run.txt, logs/run.txt), the slashes of that
// next argument do not split, so the path is the option's value.
QStringList commandLineTokens(const CommandLine &commandLine);
// Whether the command line hides the window: a token whose letter is S.
bool commandLineHides(const CommandLine &commandLine);
// Whether the command line ticks Continuos Cycle: a token whose letter is C.
bool commandLineContinues(const CommandLine &commandLine);

} // namespace vexal

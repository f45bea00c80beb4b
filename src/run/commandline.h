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

// The program's command line as one string: its arguments after the
// program's name, joined by single blanks. Empty when there are none.
QString commandLineFromArguments(const QStringList &arguments);

// Applies a command line to the target as if the user had made the same
// entries, then presses Start, always. Refused values never reach the
// screen; each goes to the error log and the rest of the line still applies.
// Nothing is kept between calls: a second call repeats everything.
void parseCommands(const QString &commandLine, CommandLineTarget &target);

// The command line's tokens as the parser reads them: the pieces between "/"
// characters, blanks trimmed.
QStringList commandLineTokens(const QString &commandLine);
// Whether the command line hides the window: a token whose letter is S.
bool commandLineHides(const QString &commandLine);

} // namespace vexal

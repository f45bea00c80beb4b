#pragma once

#include <QString>

namespace vexal {

// What has been typed into the About window since the program started. One
// instance lives for the process and is handed to every opening of the
// window, so closing and reopening it keeps what was typed; nothing clears it.
class TypedCharacters final
{
public:
    // The word that, typed as the very first characters, reveals the photograph.
    static const QString &revealWord();

    // Appends what one key press typed. True when everything typed so far is
    // exactly the reveal word, case and all.
    bool append(const QString &typed);

private:
    QString m_text;
};

} // namespace vexal

#include "common/typedcharacters.h"

namespace vexal {

const QString &TypedCharacters::revealWord()
{
    static const QString word = QStringLiteral("zorbel");
    return word;
}

bool TypedCharacters::append(const QString &typed)
{
    if (typed.isEmpty())
        return false;
    // Once it is longer than the word the buffer can never equal it again,
    // so it stops growing there: an hour of typing costs no memory and
    // answers the same.
    const qsizetype keep = revealWord().size() + 1;
    m_text.append(typed.left(qMax<qsizetype>(0, keep - m_text.size())));
    return m_text == revealWord();
}

} // namespace vexal

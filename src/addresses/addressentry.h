#pragma once

#include "addresses/octetlist.h"

#include <QString>

#include <optional>

namespace vexal {

// What a character typed into an octet's entry field does.
struct EntryKeyOutcome
{
    enum class Action {
        PassThrough, // the field handles the character as usual
        Discard,     // the character is dropped
        ShowStar,    // the character is dropped and the field holds "*"
    };
    Action action = Action::PassThrough;
    // The list's new selection, when the character changes it.
    std::optional<OctetList> selection;
};

constexpr int OctetFieldMaxLength = 3;

// The field's character hook. code is the typed character's code (8 for
// backspace, 13 for Enter, 27 for Escape, control codes for Ctrl+letter).
EntryKeyOutcome entryKeyPress(const QString &fieldText, char16_t code,
                              int maxLength = OctetFieldMaxLength);

// When the field loses the focus: the position to deselect and select again
// (which scrolls it into view), or nothing for an empty field.
std::optional<int> entryFocusLossPosition(const QString &fieldText, const OctetList &list);

} // namespace vexal

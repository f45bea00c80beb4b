#include "addresses/addressentry.h"

namespace vexal {

EntryKeyOutcome entryKeyPress(const QString &fieldText, char16_t code, int maxLength)
{
    using Action = EntryKeyOutcome::Action;
    // A full field lets everything through unexamined: the field's own
    // length limit then decides, and replacing a selected part still works.
    if (fieldText.size() >= maxLength)
        return {Action::PassThrough, std::nullopt};

    if (code >= u'0' && code <= u'9') {
        const QString prefix = fieldText + QChar(code);
        return {Action::PassThrough, OctetList::matchingPrefix(prefix)};
    }
    if (code == u'*')
        return {Action::ShowStar, OctetList::all()};
    if (code == u'.' || code == 8)
        return {Action::PassThrough, std::nullopt};
    return {Action::Discard, std::nullopt};
}

std::optional<int> entryFocusLossPosition(const QString &fieldText, const OctetList &list)
{
    if (fieldText.isEmpty())
        return std::nullopt;
    const int highest = list.highestSelected();
    return highest >= 0 ? highest : 0;
}

} // namespace vexal

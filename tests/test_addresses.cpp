#include "addresses/addressentry.h"
#include "addresses/octetlist.h"
#include "addresses/selectioncheck.h"

#include "qtprinters.h"

#include <gtest/gtest.h>

using namespace vexal;
using Action = EntryKeyOutcome::Action;

namespace {

// Types characters into an empty field as the window would and returns the
// list's selection and the field's text.
std::pair<OctetList, QString> type(const QString &keys, OctetList list = {})
{
    QString field;
    for (QChar key : keys) {
        const EntryKeyOutcome outcome = entryKeyPress(field, key.unicode());
        if (outcome.selection)
            list = *outcome.selection;
        if (outcome.action == Action::ShowStar)
            field = QStringLiteral("*");
        else if (outcome.action == Action::PassThrough) {
            if (key.unicode() == 8)
                field.chop(1);
            else if (field.size() < OctetFieldMaxLength)
                field += key;
        }
    }
    return {list, field};
}

} // namespace

TEST(OctetEntry, DigitPrefixesReplaceTheSelection)
{
    struct Row
    {
        const char *keys;
        int selected;
        int first;
        int last;
    };
    const Row rows[] = {
        {"1", 111, 1, 199}, {"19", 11, 19, 199}, {"192", 1, 192, 192}, {"2", 67, 2, 255},
        {"25", 7, 25, 255}, {"0", 1, 0, 0},      {"00", 0, -1, -1},    {"9", 11, 9, 99},
        {"26", 1, 26, 26},  {"255", 1, 255, 255}};
    for (const Row &row : rows) {
        OctetList mouse;
        mouse.setSelected(77, true); // a mouse selection is replaced too
        const auto [list, field] = type(QString::fromLatin1(row.keys), mouse);
        EXPECT_EQ(list.selectedCount(), row.selected) << row.keys;
        EXPECT_EQ(list.highestSelected(), row.last) << row.keys;
        if (row.first >= 0) {
            EXPECT_TRUE(list.isSelected(row.first)) << row.keys;
        }
        EXPECT_EQ(field, QString::fromLatin1(row.keys));
    }
}

TEST(OctetEntry, StarDotBackspaceAndOtherCharacters)
{
    auto [all, star] = type(QStringLiteral("*"));
    EXPECT_EQ(all.selectedCount(), 256);
    EXPECT_EQ(star, QStringLiteral("*"));

    auto [allAfterDigits, star2] = type(QStringLiteral("12*"));
    EXPECT_EQ(allAfterDigits.selectedCount(), 256);
    EXPECT_EQ(star2, QStringLiteral("*"));

    // A full stop never matches, so the next digit clears the list.
    auto [none, dotted] = type(QStringLiteral("1.2"));
    EXPECT_EQ(none.selectedCount(), 0);
    EXPECT_EQ(dotted, QStringLiteral("1.2"));
    auto [afterDot, dotOnly] = type(QStringLiteral(".5"));
    EXPECT_EQ(afterDot.selectedCount(), 0);
    EXPECT_EQ(dotOnly, QStringLiteral(".5"));

    // Backspace edits the field but keeps the selection of the longer prefix.
    auto [kept, shortened] = type(QStringLiteral("19\b"));
    EXPECT_EQ(kept.selectedCount(), 11);
    EXPECT_EQ(shortened, QStringLiteral("1"));

    for (char16_t code : {u'a', u'Z', u' ', u'-', u',', char16_t(13), char16_t(27), char16_t(22)}) {
        const EntryKeyOutcome outcome = entryKeyPress(QStringLiteral("1"), code);
        EXPECT_EQ(outcome.action, Action::Discard) << int(code);
        EXPECT_FALSE(outcome.selection.has_value());
    }
}

TEST(OctetEntry, AFullFieldPassesEveryCharacterUnexamined)
{
    for (char16_t code : {u'*', u'5', u'a', u'.', char16_t(8)}) {
        const EntryKeyOutcome outcome = entryKeyPress(QStringLiteral("123"), code);
        EXPECT_EQ(outcome.action, Action::PassThrough) << int(code);
        EXPECT_FALSE(outcome.selection.has_value()) << int(code);
    }
}

TEST(OctetEntry, FocusLoss)
{
    OctetList list;
    EXPECT_FALSE(entryFocusLossPosition(QString(), list).has_value())
        << "an empty field changes nothing, even without a selection";
    EXPECT_EQ(entryFocusLossPosition(QStringLiteral("1.2"), list), 0)
        << "nothing selected: the entry 0 becomes selected";
    list.setSelected(19, true);
    list.setSelected(190, true);
    EXPECT_EQ(entryFocusLossPosition(QStringLiteral("19"), list), 190);
    EXPECT_EQ(entryFocusLossPosition(QStringLiteral("*"), OctetList::all()), 255);
}

TEST(SelectionCheck, NamesTheFirstEmptyListAndRefusesAllZero)
{
    auto one = [](int position) {
        OctetList list;
        list.setSelected(position, true);
        return list;
    };
    const QString firstEmpty = QStringLiteral(
        "The first list box has no entries selected.  Please select at least one entry to continue!");
    const QString thirdEmpty = QStringLiteral(
        "The third list box has no entries selected.  Please select at least one entry to continue!");
    const QString zeros = QStringLiteral(
        "Each part of the IP address cannot contain a 0.  This will generate an invalid IP "
        "address.  Please correct this problem to continue");

    EXPECT_EQ(listSelectionFault(AddressSet{})->text, firstEmpty);
    EXPECT_EQ(listSelectionFault(AddressSet{})->title, QStringLiteral("List Box"));
    EXPECT_EQ(listSelectionFault({one(10), one(1), OctetList{}, one(5)})->text, thirdEmpty);
    EXPECT_EQ(listSelectionFault({one(10), OctetList{}, OctetList{}, OctetList{}})->text,
              QStringLiteral("The second list box has no entries selected.  Please select at "
                             "least one entry to continue!"));
    EXPECT_EQ(listSelectionFault({one(10), one(1), one(2), OctetList{}})->text,
              QStringLiteral("The fourth list box has no entries selected.  Please select at "
                             "least one entry to continue!"));

    OctetList zeroAndMore = one(0);
    zeroAndMore.setSelected(7, true);
    EXPECT_EQ(listSelectionFault({one(0), one(0), one(0), one(0)})->text, zeros);
    EXPECT_EQ(listSelectionFault({zeroAndMore, one(0), OctetList::all(), one(0)})->text, zeros);
    EXPECT_EQ(listSelectionFault({one(0), one(0), one(0), one(0)})->title, QStringLiteral("List Box"));
    EXPECT_FALSE(listSelectionFault({one(10), one(0), one(0), one(0)}).has_value());
    EXPECT_FALSE(listSelectionFault({one(10), one(1), one(2), one(5)}).has_value());
}

#include "addresses/addressentry.h"
#include "addresses/octetlist.h"
#include "addresses/selectioncheck.h"

#include "qtprinters.h"

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

} // namespace

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

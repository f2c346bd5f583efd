#include "platform/StringTable.h"

#include <gtest/gtest.h>

#include <ostream>

using quorvit::StringTable;

namespace {

TEST(StringTable, EnglishTextsAndMissingKeys)
{
    EXPECT_EQ(QVLocalized(QStringLiteral("AddressToolbar")), QStringLiteral("Bookmarks Toolbar"));
    EXPECT_EQ(QVLocalized(QStringLiteral("AddressFolder")), QStringLiteral("Folder"));
    EXPECT_EQ(QVLocalized(QStringLiteral("NoSuchKeyAnywhere")), QStringLiteral("NoSuchKeyAnywhere"));
    EXPECT_FALSE(StringTable::table().contains(QStringLiteral("NoSuchKeyAnywhere")));
    EXPECT_EQ(StringTable(QStringLiteral("NoSuchTable")).text(QStringLiteral("Key")), QStringLiteral("Key"));
}

TEST(StringTable, SetTextReplacesAndNullRemoves)
{
    StringTable table(QStringLiteral("QVStrings"));
    table.setText(QStringLiteral("AddressFolder"), QStringLiteral("Ordner"));
    EXPECT_EQ(table.text(QStringLiteral("AddressFolder")), QStringLiteral("Ordner"));
    table.setText(QStringLiteral("AddressFolder"), QString());
    EXPECT_EQ(table.text(QStringLiteral("AddressFolder")), QStringLiteral("AddressFolder"));
    // The program-wide table is a different object and keeps its text.
    EXPECT_EQ(QVLocalized(QStringLiteral("AddressFolder")), QStringLiteral("Folder"));
}

struct FillCase
{
    const char* name;
    friend void PrintTo(const FillCase& c, std::ostream* os) { *os << c.name; }
    const char* text;
    QStringList arguments;
    const char* expected;
};

class FillPlaceholders : public testing::TestWithParam<FillCase>
{
};

TEST_P(FillPlaceholders, ReplacesFirstOccurrenceOfEach)
{
    const FillCase& c = GetParam();
    EXPECT_EQ(StringTable::fillPlaceholders(QString::fromUtf8(c.text), c.arguments),
              QString::fromUtf8(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FillPlaceholders,
    testing::Values(
        FillCase{"InOrder", "^0 and ^1 and ^2", {"a", "b", "c"}, "a and b and c"},
        FillCase{"OutOfOrder", "^2 ^0 ^1", {"a", "b", "c"}, "c a b"},
        FillCase{"OnlyFirstOccurrence", "^0 ^0 ^1 ^1", {"a", "b"}, "a ^0 b ^1"},
        FillCase{"ArgumentHoldingLaterPlaceholder", "^0 then ^1", {"^1", "b"}, "^1 then b"},
        FillCase{"ArgumentHoldingEarlierPlaceholder", "^0 then ^1", {"x", "^0"}, "x then ^0"},
        FillCase{"ArgumentsOfOtherLengths", "[^0][^1][^2]", {"", "longer text", "é"}, "[][longer text][é]"},
        FillCase{"MissingArgumentLeavesPlaceholder", "^0 ^1 ^2", {"a"}, "a ^1 ^2"},
        FillCase{"UnusedArgumentIgnored", "only ^1", {"a", "b"}, "only b"},
        FillCase{"NoPlaceholders", "plain", {"a"}, "plain"}),
    [](const testing::TestParamInfo<FillCase>& info) { return std::string(info.param.name); });

TEST(StringTable, LocalizedWithArgumentsFillsTheTableText)
{
    StringTable::table().setText(QStringLiteral("TestOnlyTemplate"), QStringLiteral("^0 of ^1"));
    EXPECT_EQ(QVLocalized(QStringLiteral("TestOnlyTemplate"), {QStringLiteral("1"), QStringLiteral("2")}),
              QStringLiteral("1 of 2"));
    StringTable::table().setText(QStringLiteral("TestOnlyTemplate"), QString());
}

} // namespace

#include <gtest/gtest.h>

#include "record/calc/automation.h"
#include "support/recording_message_box.h"

namespace lyr {
namespace {

TEST(ColumnName, GivesTheLettersOfEveryWidth) {
    const struct {
        int n;
        const char* name;
    } cases[] = {{1, "A"},       {26, "Z"},      {27, "AA"},      {52, "AZ"},   {53, "BA"},
                 {702, "ZZ"},    {703, "AAA"},   {728, "AAZ"},    {729, "ABA"}, {16384, "XFD"},
                 {18278, "ZZZ"}, {18279, "ZZZ"}, {100000, "ZZZ"}, {0, ""},      {-3, ""}};
    for (const auto& c : cases) EXPECT_EQ(ColumnName(c.n), QString::fromLatin1(c.name)) << c.n;
}

TEST(CellName, JoinsColumnLettersAndRowNumber) {
    EXPECT_EQ(CellName(3, 5), "C5");
    EXPECT_EQ(CellName(16384, 1), "XFD1");
    EXPECT_EQ(CellName(16384, 1048576), "XFD1048576");  // longer than seven characters, not cut
}

TEST(ParseRelativeAddress, ReadsRowAndColumnOffsetsRelativeToA1) {
    const struct {
        const char* text;
        int row;
        int column;
    } cases[] = {
        {"R[4]C[2]", 5, 3},
        {"RC", 1, 1},
        {"RC[2]", 1, 3},
        {"R[4]C", 5, 1},
        {"R[1048575]C[16383]", 1048576, 16384},
        {"R[4", 1, 1},      // "]" missing
        {"R[4]C[2", 5, 1},  // the column's "]" missing
        {"R[-1]C[-1]", 0, 0},
        // Offsets at the end of int name a row and column beyond every sheet, without overflow.
        {"R[2147483647]C[2147483647]", 2147483647, 2147483647},
        {"", 1, 1},
    };
    for (const auto& c : cases) {
        int row = -7;
        int column = -7;
        ParseRelativeAddress(QString::fromLatin1(c.text), row, column);
        EXPECT_EQ(row, c.row) << c.text;
        EXPECT_EQ(column, c.column) << c.text;
    }
}

TEST(BuildDispatchErrorText, JoinsSourceAndDescription) {
    const struct {
        const char* source;
        const char* description;
        const char* text;
    } cases[] = {
        {"LibreOffice Calc", "The sheet is protected.",
         "LibreOffice Calc - The sheet is protected."},
        {"", "The sheet is protected.", "The sheet is protected."},
        {"LibreOffice Calc", "", "LibreOffice Calc - unknown error"},
        {"", "", "unknown error"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(BuildDispatchErrorText(COleDispatchException(c.source, c.description)), c.text);
    }
}

TEST(ReportDispatchError, ShowsTheTextWithOkOnlyAndNoIcon) {
    test::RecordingMessageBox box;
    ReportDispatchError(COleDispatchException("Calc", "Refused", "help.chm", 42));
    ASSERT_EQ(box.shown.size(), 1);
    EXPECT_EQ(box.shown[0].text, "Calc - Refused");
    EXPECT_EQ(box.shown[0].type, MB_OK);
}

TEST(DispatchErrorHelpId, IsTheHelpContextOnlyWhenAHelpFileIsNamed) {
    EXPECT_EQ(DispatchErrorHelpId(COleDispatchException("s", "d", "help.chm", 42)), 42u);
    EXPECT_EQ(DispatchErrorHelpId(COleDispatchException("s", "d", "", 42)), 0u);
}

TEST(COleVariant, RefusesToBeReadAsAnotherType) {
    EXPECT_EQ(COleVariant::I2(1).iVal(), 1);
    EXPECT_THROW((void)COleVariant::I2(1).lVal(), COleException);
    EXPECT_THROW((void)COleVariant().bstrVal(), COleException);
    EXPECT_TRUE(COleVariant::Omitted().IsOmitted());
    EXPECT_FALSE(COleVariant::Error(E_FAIL).IsOmitted());
}

TEST(COleDispatchDriver, FailsACallWithoutObjectAsAnOtherFailure) {
    COleDispatchDriver driver;
    EXPECT_THROW(driver.GetProperty(dispid::Version), COleException);
}

}  // namespace
}  // namespace lyr

// A cell keeps short texts and numbers inside itself and longer texts on the heap: copies,
// moves and overwrites must keep each cell's own value whichever way it is stored.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "xlsbook/cell_value.h"

using xlsbook::CellValue;

namespace {

struct Filled {
    const char* name;
    void (*fill)(CellValue&);
    int kind;
    std::string raw;  // raw_text() expected
};

const std::vector<Filled>& filled_cells() {
    static const std::vector<Filled> cells = {
        {"undefined", [](CellValue&) {}, CellValue::kUndefined, ""},
        {"integer", [](CellValue& c) { c.set_integer(-7); }, CellValue::kInteger, ""},
        {"real", [](CellValue& c) { c.set_real(2.5); }, CellValue::kReal, ""},
        {"narrow, 16 bytes (the most held inside)", [](CellValue& c) { c.set_text("0123456789abcdef"); },
         CellValue::kString, "0123456789abcdef"},
        {"narrow, 17 bytes", [](CellValue& c) { c.set_text("0123456789abcdefg"); }, CellValue::kString,
         "0123456789abcdefg"},
        {"wide, compact", [](CellValue& c) { c.set_wide_text(u"10.0.0.1"); }, CellValue::kWideString,
         "10.0.0.1"},
        {"wide, 16-bit units", [](CellValue& c) { c.set_wide_text(u"管理员"); }, CellValue::kWideString,
         std::string("\xA1\x7B\x06\x74\x58\x54", 6)},
        {"wide, long", [](CellValue& c) { c.set_wide_text(std::u16string(300, u'p')); },
         CellValue::kWideString, std::string(300, 'p')},
    };
    return cells;
}

void expect_holds(const CellValue& c, const Filled& f) {
    EXPECT_EQ(c.kind(), f.kind);
    EXPECT_EQ(std::string(c.raw_text()), f.raw);
    EXPECT_EQ(c.get_integer(), f.kind == CellValue::kInteger ? -7 : 0);
    EXPECT_EQ(c.get_real(), f.kind == CellValue::kReal ? 2.5 : 0.0);
}

}  // namespace

TEST(CellValue, CopiesMovesAndOverwritesKeepEachValue) {
    for (const Filled& from : filled_cells()) {
        for (const Filled& over : filled_cells()) {
            SCOPED_TRACE(std::string(from.name) + " over " + over.name);
            CellValue source;
            from.fill(source);

            CellValue copied(source);
            expect_holds(copied, from);
            CellValue assigned;
            over.fill(assigned);
            assigned = source;
            expect_holds(assigned, from);
            expect_holds(source, from);  // a copy leaves its source as it was

            CellValue moved_into;
            over.fill(moved_into);
            moved_into = std::move(copied);
            expect_holds(moved_into, from);
            EXPECT_EQ(copied.kind(), CellValue::kUndefined);  // NOLINT(bugprone-use-after-move)

            CellValue constructed(std::move(assigned));
            expect_holds(constructed, from);
            const CellValue& same = constructed;
            constructed = same;  // self-assignment keeps the value
            expect_holds(constructed, from);
        }
    }
}

TEST(CellValue, RawTextTakenFromTheSameCellSurvives) {
    for (const std::string& text : {std::string("short"), std::string(40, 'x')}) {
        CellValue c;
        c.set_text(text);
        c.set_raw_text(c.raw_text(), false);
        EXPECT_EQ(std::string(c.raw_text()), text);
    }
}

TEST(CellValue, WideBytesWithoutHighUnitsAreHeldCompact) {
    CellValue c;
    c.set_raw_text(std::string("a\0b\0", 4), true);
    EXPECT_TRUE(c.compact());
    EXPECT_EQ(c.get_wide_text(), u"ab");
    EXPECT_EQ(c.wide_length(), 2u);
    c.set_raw_text(std::string("a\0\x41\x6D", 4), true);
    EXPECT_FALSE(c.compact());
    EXPECT_EQ(c.get_wide_text(), u"a\u6D41");
    EXPECT_EQ(c.wide_length(), 2u);
}

#include "board_names.h"

#include <gtest/gtest.h>
#include <string>

namespace {

// Each loader's answer for every spelling in the data file comes out of
// its matching rule: the data and the rules agree.
TEST(BoardNames, EverySpellingLoadsWhereTheDataSays) {
    ASSERT_EQ(BOARD_ROWS.size(), 580u);
    for (const BoardRow& row : BOARD_ROWS) {
        for (Loader loader : LOADERS) {
            bool loads = look_up_board(loader, row.name).match == BoardMatch::loads;
            EXPECT_EQ(loads, (row.loads & loader_bit(loader)) != 0) << row.name << " " << loader_name(loader);
        }
    }
}

// Spellings that are no row of the data: what each loader's rule makes of them.
TEST(BoardNames, EachLoadersRule) {
    struct Case {
        std::string text;
        std::string loaded;  // one letter per loader: y loads, n refuses, o another board (puNES)
    };
    const Case cases[] = {
        {"NES-NROM-128", "yyyyy"},
        {"NROM-128", "yynyy"},
        {"nes-nrom-128", "nnyny"},
        {"NES-NROM-128 ", "nnyyn"},
        {" NES-NROM-128", "nnyyy"},
        {"NES-NROM -128", "nnnyn"},
        {"NES-NROM-128\t", "nnynn"},  // Nestopia alone drops control characters
        {"UNL-NROM-128", "yynyy"},
        {"NROM-1", "nnnno"},
        {"", "nnnno"},
        {"NES-FOOBAR", "nnnnn"},
    };
    for (const Case& c : cases) {
        std::string got;
        for (Loader loader : LOADERS) {
            BoardMatch match = look_up_board(loader, c.text).match;
            got += match == BoardMatch::loads ? 'y' : match == BoardMatch::unknown ? 'n' : 'o';
        }
        EXPECT_EQ(got, c.loaded) << "'" << c.text << "'";
    }
}

TEST(BoardNames, TheSpellingMostLoadersLoad) {
    struct Case {
        std::string text;
        std::string best;  // empty: none
    };
    const Case cases[] = {
        {"NROM-128", "NES-NROM-128"},
        {"nes-nrom-128", "NES-NROM-128"},
        {"NES-NROM -128 ", "NES-NROM-128"},
        {"hvc-nrom-128", "HVC-NROM-128"},  // the user's own prefix, all five load it
        {"NROM-1", ""},
        {"", ""},
    };
    for (const Case& c : cases) {
        const BoardRow* best = best_spelling(c.text);
        EXPECT_EQ(best == nullptr ? "" : best->name, c.best) << "'" << c.text << "'";
    }
}

}  // namespace

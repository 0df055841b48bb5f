// Board names (the text of a MAPR block) as each loader matches them, from
// the table in data/unif-boards.tsv, built into unifinfo.
#pragma once

#include <span>
#include <string_view>

#include "loaders.h"

struct BoardRow {
    const char* name;  // a spelling found in at least one loader's table
    LoaderSet loads;   // the loaders that load that board for exactly this text
    int mapper;        // NES 2.0 mapper number, -1 when none is known
    int submapper;     // -1 when none is known
    bool punes_table;  // puNES's own table spells it so
};

// Every spelling, sorted by code point; generated from the data file.
extern const std::span<const BoardRow> BOARD_ROWS;

enum class BoardMatch {
    loads,        // the loader loads the board `row` names
    unknown,      // the loader refuses the image
    other_board,  // puNES only: it takes the first of its names that begins
                  // with the text, one of the rows named `row` and after
};

struct BoardLookup {
    BoardMatch match = BoardMatch::unknown;
    const BoardRow* row = nullptr;
};

// What the loader makes of a MAPR text (the bytes before its zero byte):
//   FCEUX, Mednafen: an exact NES-, UNL-, HVC-, BTL- or BMC- prefix is
//     stripped, the rest compared exactly with the loader's table;
//   Nestopia: the control characters \a \b \t \v \n \r \f dropped, outer
//     blanks trimmed, the whole name compared ignoring case;
//   Mesen2: every blank dropped, an exact prefix stripped, the rest compared
//     exactly;
//   puNES: 63 bytes kept, leading blanks skipped, a prefix stripped in any
//     case, then the first name that begins with the rest, ignoring case.
BoardLookup look_up_board(Loader loader, std::string_view text);

// Among the spellings that name the same board as `text` (the same name
// once blanks, prefix and case are set aside), the one the most loaders
// load; nullptr when no spelling does.
const BoardRow* best_spelling(std::string_view text);

// Whether the board is one whose PRG is made of several chips by design
// (MARIO1-MALEE2, Supervision16in1, Super24in1SC03), with or without a
// prefix, in any case.
bool is_multi_chip_board(std::string_view text);

// The number of loaders in the set.
int loader_count(LoaderSet loaders);

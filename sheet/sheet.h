// The diagram sheet: the PostScript page body, one diagram per half-move.
//
// Diagrams stand three to a row and six rows to a page. Each is a caption
// (move number, move text, score, time) set with the procedure R, and the
// board below it as one string set with C: a letter per piece, upper case
// for white, a space per empty square, a ';' after each rank from 8 down
// to 1. R and C are left to a prologue; the body never defines them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "position/position.h"
#include "record/record.h"

namespace tavrik {

constexpr int BOARDS_PER_ROW = 3;
constexpr int BOARDS_PER_PAGE = 18;

struct PageState {
    int boards_on_page = 0;
    int boards_in_row = 0;
};

// "C ('#[" + eight ranks of nine characters + "]') show": 86 characters.
std::string board_text(const Board& board);

// The text escaped for use inside a PostScript string: backslash and
// parentheses get a backslash before them.
std::string postscript_escaped(std::string_view text);

// Writes the opening line, which puts the first row at the top of a page.
void begin_sheet(std::FILE* out);

// Writes the diagram of half-move i: the board must have been replayed up
// to and including i.
void write_diagram(PageState& page, const Board& board, const MoveTable& table,
                   std::int64_t i, std::FILE* out);

// Ends the last page, if any diagram was written.
void end_sheet(const PageState& page, std::FILE* out);

} // namespace tavrik

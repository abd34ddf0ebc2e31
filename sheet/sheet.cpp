// The diagram sheet writer.
#include <cinttypes>

#include "sheet/sheet.h"

namespace tavrik {

namespace {

// Indexed by Piece; EMPTY is a space.
constexpr const char* WHITE_LETTERS = " PNBRQK";
constexpr const char* BLACK_LETTERS = " pnbrqk";

} // namespace

std::string board_text(const Board& board) {
    std::string text = "C ('#[";
    for (int rank = 7; rank >= 0; --rank) {
        for (int file = 0; file < 8; ++file) {
            const auto s = static_cast<std::size_t>(make_square(file, rank));
            const char* letters = board.colour[s] == BLACK ? BLACK_LETTERS : WHITE_LETTERS;
            text += letters[board.piece[s]];
        }
        text += ';';
    }
    text += "]') show";
    return text;
}

std::string postscript_escaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (c == '(' || c == ')' || c == '\\')
            out += '\\';
        out += c;
    }
    return out;
}

void begin_sheet(std::FILE* out) { std::fputs("/V 11 72 mul def /L 60 def\n", out); }

void write_diagram(PageState& page, const Board& board, const MoveTable& table,
                   std::int64_t i, std::FILE* out) {
    if (page.boards_on_page == BOARDS_PER_PAGE) {
        std::fputs("showpage\n/V 11 72 mul def\n/L 60 def\n", out);
        page.boards_on_page = 0;
        page.boards_in_row = 0;
    }
    ++page.boards_on_page;

    const HalfMove& half_move = table.at(i);
    const std::string move = postscript_escaped(move_text_of(table, i));
    const char* dots = i % 2 == 1 ? "" : " ... ";
    std::fprintf(out,
                 "L V moveto\n"
                 "R (%" PRId64 " %s%s score %" PRId64 " time %" PRId64 ") show\n"
                 "L  V 100 sub moveto\n"
                 "%s\n",
                 (i + 1) / 2, dots, move.c_str(), half_move.score, half_move.time,
                 board_text(board).c_str());

    if (++page.boards_in_row == BOARDS_PER_ROW) {
        std::fputs("/V V 120 sub def /L 60 def\n", out);
        page.boards_in_row = 0;
    } else {
        std::fputs("/L 160 L add def\n", out);
    }
}

void end_sheet(const PageState& page, std::FILE* out) {
    // Once a diagram is written the page count never drops back to 0.
    if (page.boards_on_page > 0)
        std::fputs("showpage\n", out);
}

} // namespace tavrik

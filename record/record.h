// Reading a game record: move codes, move text and the move table.
//
// A record is two header lines, then one line per full move holding white's
// and black's half-move, each as move text followed by four numbers (score,
// two numbers kept but unused, time). Tokens are separated by spaces only.
// Reading stops at the end of the file or at the first line that holds
// nothing but spaces (a carriage return before the newline is ignored).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "position/position.h"

namespace tavrik {

// From-square in the high byte, to-square in the low byte.
using MoveCode = std::uint16_t;

constexpr MoveCode make_move(Square from, Square to) {
    return static_cast<MoveCode>(from << 8 | to);
}
constexpr Square from_square(MoveCode m) { return m >> 8; }
constexpr Square to_square(MoveCode m) { return m & 0xFF; }

constexpr MoveCode WHITE_KING_SIDE = 0x0406;  // e1g1
constexpr MoveCode WHITE_QUEEN_SIDE = 0x0402; // e1c1
constexpr MoveCode BLACK_KING_SIDE = 0x3C3E;  // e8g8
constexpr MoveCode BLACK_QUEEN_SIDE = 0x3C3A; // e8c8

constexpr bool is_castling_code(MoveCode m) {
    return m == WHITE_KING_SIDE || m == WHITE_QUEEN_SIDE ||
           m == BLACK_KING_SIDE || m == BLACK_QUEEN_SIDE;
}

// Flags of a half-move. With PROMOTION_BIT set the low three bits are the
// Piece the pawn becomes. INVALID_BIT marks move text that names no move;
// its code is then meaningless and the text is kept in the table.
using MoveFlags = std::uint16_t;
constexpr MoveFlags PROMOTION_BIT = 8;
constexpr MoveFlags INVALID_BIT = 16;
constexpr MoveFlags PROMOTION_PIECE_MASK = 7;

struct DecodedMove {
    MoveCode move = 0;
    MoveFlags flags = 0;
};

// Decodes one move token (the text up to the next space). Looks at its
// first five characters only, reading those past its end as spaces:
// an 'o' fifth is queen-side castling, else an 'o' first is king-side
// castling, for the given colour; otherwise four coordinate characters
// (e2e4) and an optional lower-case promotion letter (e7e8q). Anything else
// comes back with INVALID_BIT.
DecodedMove decode_move_text(std::string_view token, Colour colour);

// "e2e4" for the two squares, as four characters, with no allocation.
std::array<char, 4> move_coordinates(Square from, Square to);

// "e2e4" for the two squares, "" when they are equal.
std::string format_move(Square from, Square to);

// The text with every byte outside printable ASCII replaced by '?', safe to
// write inside a line of output.
std::string printable_text(std::string_view text);

struct HalfMove {
    MoveCode move = 0;
    MoveFlags flags = 0;
    std::int64_t score = 0;
    std::int64_t number2 = 0; // kept from the record, used by nothing
    std::int64_t number3 = 0; // kept from the record, used by nothing
    std::int64_t time = 0;
};

// Half-moves in playing order; index i (from 1) is white's move when odd.
struct MoveTable {
    std::vector<HalfMove> half_moves;
    // Move text as written, for the half-moves flagged INVALID_BIT.
    std::map<std::int64_t, std::string> invalid_texts;

    [[nodiscard]] std::int64_t count() const {
        return static_cast<std::int64_t>(half_moves.size());
    }
    [[nodiscard]] const HalfMove& at(std::int64_t i) const {
        return half_moves[static_cast<std::size_t>(i - 1)];
    }
};

// The move text of half-move i as a reader should see it: coordinate text
// for a move, the printable form of what was written for invalid text.
std::string move_text_of(const MoveTable& table, std::int64_t i);

// A position within one line of the record.
struct LineCursor {
    std::string_view line;
    std::size_t pos = 0;
};

// Advances the cursor over spaces.
void skip_blanks(LineCursor& cursor);

// Advances the cursor over the current token and the spaces after it, so
// that it stands on the next token or at the end of the line.
void next_token(LineCursor& cursor);

// The token under the cursor, up to the next space or the end of the line.
std::string_view current_token(const LineCursor& cursor);

// The decimal number at the start of text, as the C library converts it:
// leading white space skipped, optional sign, digits up to the first other
// character, 0 without digits, clamped to the 64-bit range. text must be
// terminated by a NUL.
std::int64_t parse_decimal(const char* text);

// Reads the whole record from file, which is positioned at its start, and
// appends its half-moves to the table. A line that lacks black's move text
// adds a half-move flagged INVALID_BIT with empty text, except on the last
// move line, where the game simply ended with white's move.
// Returns 0, or the errno of a failed read (ENOMEM when the table or a
// line finds no memory).
int read_record_file(std::FILE* file, MoveTable& table);

} // namespace tavrik

// The chess value types that the readers and the board share: squares,
// pieces, colours, move codes and the flags of a half-move.
#pragma once

#include <cstdint>

namespace tavrik {

// rank * 8 + file; a1 is 0, h1 is 7, a8 is 56, h8 is 63.
using Square = int;

constexpr int SQUARE_COUNT = 64;
constexpr Square NO_SQUARE = -1;

constexpr Square make_square(int file, int rank) { return rank * 8 + file; }
constexpr int file_of(Square s) { return s % 8; }
constexpr int rank_of(Square s) { return s / 8; }
constexpr bool is_on_board(Square s) { return s >= 0 && s < SQUARE_COUNT; }

enum Piece : std::uint8_t { EMPTY, PAWN, KNIGHT, BISHOP, ROOK, QUEEN, KING };

enum Colour : std::uint8_t { WHITE, BLACK, NO_COLOUR };

// The empty square has no opponent: NO_COLOUR maps to itself.
constexpr Colour opponent_of(Colour c) {
    return c == WHITE ? BLACK : c == BLACK ? WHITE : NO_COLOUR;
}

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
// its code is then meaningless. The last two come only from games read as
// PGN: CASTLING_BIT marks a Chess960 castling, coded as the king taking
// its own rook, and NULL_MOVE_BIT a null move, whose code is 0.
using MoveFlags = std::uint16_t;
constexpr MoveFlags PROMOTION_BIT = 8;
constexpr MoveFlags INVALID_BIT = 16;
constexpr MoveFlags CASTLING_BIT = 32;
constexpr MoveFlags NULL_MOVE_BIT = 64;
constexpr MoveFlags PROMOTION_PIECE_MASK = 7;

} // namespace tavrik

// The board and the replay of recorded half-moves on it.
//
// Offers the chess value types (Square, Piece, Colour), the Board, the
// starting position, and replay_half_move, which applies one half-move of
// a MoveTable as recorded: it moves the piece, knows en passant, castling
// and promotion, and reports moves that do not fit the position without
// refusing them.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>

namespace tavrik {

// rank * 8 + file; a1 is 0, h1 is 7, a8 is 56, h8 is 63.
using Square = int;

enum Piece : std::uint8_t { EMPTY, PAWN, KNIGHT, BISHOP, ROOK, QUEEN, KING };

enum Colour : std::uint8_t { WHITE, BLACK, NO_COLOUR };

constexpr int SQUARE_COUNT = 64;

constexpr Square make_square(int file, int rank) { return rank * 8 + file; }
constexpr int file_of(Square s) { return s % 8; }
constexpr int rank_of(Square s) { return s / 8; }
constexpr bool is_on_board(Square s) { return s >= 0 && s < SQUARE_COUNT; }

// The empty square has no opponent: NO_COLOUR maps to itself.
constexpr Colour opponent_of(Colour c) {
    return c == WHITE ? BLACK : c == BLACK ? WHITE : NO_COLOUR;
}

// Invariant: piece[s] == EMPTY exactly when colour[s] == NO_COLOUR.
struct Board {
    std::array<Piece, SQUARE_COUNT> piece{};
    std::array<Colour, SQUARE_COUNT> colour{};
    Colour side = WHITE;
    Colour opponent = BLACK;
};

struct MoveTable;

// Puts the pieces on their starting squares, white to move.
void setup_board(Board& board);

// Applies half-move i (1-based, i <= table.count()) of the table to the
// board and hands the move to the other side. Writes one line to out for
// each plausibility test that fails:
//   "Illegal move - i e1e2 " the target holds a piece that is not the
//                            opponent's;
//   "Illegal move + i e1e2 " the origin holds no piece of the side to move;
//   "Illegal move ? i text " the move text names no move (not applied).
// A move is applied whatever the tests say, except that a move from a
// square to itself leaves the board as it was and that promotion needs a
// piece on the target.
void replay_half_move(Board& board, const MoveTable& table, std::int64_t i,
                      std::FILE* out);

} // namespace tavrik

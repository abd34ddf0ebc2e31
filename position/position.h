// The board and the replay of recorded half-moves on it.
//
// Offers the chess value types (Square, Piece, Colour), the Board, the
// starting position, and replay_half_move, which applies one half-move of
// a MoveTable as recorded: it moves the piece, knows en passant, castling
// and promotion, and tells the caller which moves do not fit the position
// without refusing them.
#pragma once

#include <array>
#include <cstdint>
#include <cstddef>

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

// Eight ranks of eight squares and a ';', the eighth rank first.
constexpr std::size_t LETTERS_SIZE = 72;

// Where square s stands in Board::letters.
constexpr std::size_t letter_index(Square s) {
    return static_cast<std::size_t>(7 - rank_of(s)) * 9 + static_cast<std::size_t>(file_of(s));
}

// Invariants: piece[s] == EMPTY exactly when colour[s] == NO_COLOUR, and
// letters shows the squares: a letter per piece, upper case for white,
// lower case for black, a space for an empty square. Change squares with
// put_piece and clear_square only, which keep letters current, so that the
// diagram writer copies the position instead of rebuilding it.
struct Board {
    std::array<Piece, SQUARE_COUNT> piece{};
    std::array<Colour, SQUARE_COUNT> colour{};
    std::array<char, LETTERS_SIZE> letters{};
    Colour side = WHITE;
    Colour opponent = BLACK;
};

struct MoveTable;

// colour must not be NO_COLOUR, nor piece EMPTY.
void put_piece(Board& board, Square s, Piece piece, Colour colour);
void clear_square(Board& board, Square s);

// Puts the pieces on their starting squares, white to move.
void setup_board(Board& board);

// What the replay found wrong with a half-move, as bits.
using ReplayFindings = unsigned;
// The target holds a piece that is not the opponent's.
constexpr ReplayFindings TARGET_NOT_OPPONENTS = 1;
// The origin holds no piece of the side to move.
constexpr ReplayFindings ORIGIN_NOT_MOVERS = 2;
// The move text names no move; nothing is applied.
constexpr ReplayFindings NO_MOVE_NAMED = 4;

// Applies half-move i (1-based, i <= table.count()) of the table to the
// board and hands the move to the other side. A move is applied whatever
// the findings, except that a move from a square to itself leaves the
// board as it was and that promotion needs a piece on the target.
ReplayFindings replay_half_move(Board& board, const MoveTable& table, std::int64_t i);

} // namespace tavrik

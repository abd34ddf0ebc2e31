// The board, the replay of recorded half-moves on it, and the rules of
// chess for games read as PGN.
//
// Offers:
// - the Board, the starting position, and what stands on its squares
//   (put_piece, clear_square, holds, castle_onto_rook);
// - replay_half_move, which applies one half-move of a MoveTable as
//   recorded: it moves the piece, knows en passant, castling and
//   promotion, and tells the caller which moves do not fit the position
//   without refusing them;
// - legal move generation (is_attacked, legal_moves, play_move), used to
//   read PGN, never to judge a record;
// - positions from FEN (board_from_fen, fen_of);
// - standard algebraic notation (resolve_san, san_of, san_or_text);
// - Chess960 castling and null moves for games read as PGN;
// - play_pgn_game, which turns a game read as PGN into its starting Board
//   and a MoveTable that the print run walks like a record's.
#pragma once

#include <array>
#include <cstdint>
#include <cstddef>
#include <string>
#include <string_view>

#include "chess/chess.h"

namespace tavrik {

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
    // The square each colour's king was last put on, NO_SQUARE once that
    // square is cleared or taken by another piece; kept by put_piece and
    // clear_square. Exact as long as no side has ever had two kings, as in
    // every position the rules of chess play from. A replayed record may
    // make a second king and lose one, and nothing there asks.
    std::array<Square, 2> king{NO_SQUARE, NO_SQUARE};
    // Kept by play_move and set from FEN, for legal move generation; the
    // replay of records neither needs nor keeps them.
    unsigned castling = 0;        // CastlingRight bits
    Square en_passant = NO_SQUARE; // the square a pawn just passed over
    std::int64_t fullmove = 1;    // the move number of the side to move
    // Chess960 rules: castling is written as the king taking its own rook,
    // and the rooks may start on any file; castling_rook holds the file of
    // each right's rook, indexed by the right's bit (WHITE_OO first).
    bool chess960 = false;
    std::array<std::int8_t, 4> castling_rook{7, 0, 7, 0};
};

enum CastlingRight : unsigned {
    WHITE_OO = 1,
    WHITE_OOO = 2,
    BLACK_OO = 4,
    BLACK_OOO = 8,
    ALL_CASTLING = 15
};

// The bit index of a castling right, as Board::castling_rook indexes
// them: WHITE_OO's is 0.
constexpr std::size_t castling_index(Colour side, bool king_side) {
    return (side == WHITE ? 0U : 2U) + (king_side ? 0U : 1U);
}

struct MoveTable;

// colour must not be NO_COLOUR, nor piece EMPTY.
void put_piece(Board& board, Square s, Piece piece, Colour colour);
void clear_square(Board& board, Square s);

// Whether square s, which may be NO_SQUARE, holds that piece of that
// colour. Inline: move generation asks it for every square it looks at.
inline bool holds(const Board& board, Square s, Piece piece, Colour colour) {
    return s != NO_SQUARE && board.piece[static_cast<std::size_t>(s)] == piece &&
           board.colour[static_cast<std::size_t>(s)] == colour;
}

// Castles the side to move's king on `king` with its rook on `rook`: the
// king goes to the g or c file, the rook beside it, whatever their start
// squares.
void castle_onto_rook(Board& board, Square king, Square rook);

// Puts the pieces on their starting squares, white to move, all castling
// rights, move 1.
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

// ---- Rules of chess, for games read as PGN ----

// A plain aggregate, so that a MoveList costs nothing until filled.
// Castling is the king's move: two files in standard chess (e1g1), onto
// its own rook's square under Chess960 rules (e1h1), as UCI writes them.
struct Move {
    Square from;
    Square to;
    Piece promotion; // the piece a pawn becomes, or EMPTY

    friend bool operator==(const Move&, const Move&) = default;
};

// The side to move passes ("--" or "Z0" in PGN).
constexpr Move NULL_MOVE{NO_SQUARE, NO_SQUARE, EMPTY};
constexpr bool is_null(Move move) { return move.from == NO_SQUARE; }

// Enough for any position: the most known is 218. Only the first `size`
// moves are set.
struct MoveList {
    std::array<Move, 256> moves;
    std::size_t size = 0;

    void push(Move m) { moves[size++] = m; }
    [[nodiscard]] const Move* begin() const { return moves.data(); }
    [[nodiscard]] const Move* end() const { return moves.data() + size; }
};

// Whether a piece of colour `by` attacks square s.
bool is_attacked(const Board& board, Square s, Colour by);

// The square of colour's king (WHITE or BLACK), NO_SQUARE when it has
// none (see Board::king).
inline Square king_square(const Board& board, Colour colour) {
    return board.king[colour];
}

bool in_check(const Board& board, Colour colour);

// The legal moves of the side to move. The board must hold exactly one
// king of each colour (board_from_fen makes sure of that).
MoveList legal_moves(const Board& board);

// Whether the side to move has any legal move: mate and stalemate.
bool has_legal_move(const Board& board);

// The legal moves of the side to move with a piece of kind `piece` onto
// square `to`, every promotion counted apart.
MoveList legal_moves_to(const Board& board, Piece piece, Square to);

// Whether the move, legal on the board, is castling.
bool is_castling(const Board& board, Move move);

// Plays a legal move or NULL_MOVE: moves the piece, takes en passant,
// moves the rook when the king castles, promotes, and keeps the castling
// rights, the en passant square and the move number.
void play_move(Board& board, Move move);

// The move code and flags a MoveTable holds for the move, legal on the
// board; its replay with replay_half_move gives the position that
// play_move gives.
MoveCode code_of(Move move);
MoveFlags flags_of(const Board& board, Move move);
// And back: the move that a code and its flags hold.
Move move_of(MoveCode code, MoveFlags flags);

// The position of a FEN text. The six fields are pieces, side, castling,
// en passant, half-move clock and move number; the last two may be
// missing. Castling is KQkq, or names the rooks' files (Shredder-FEN,
// HAha); a field that names a file, or a K or Q whose rook is not in the
// corner (X-FEN), sets Chess960 rules, as does chess960. Refuses positions
// the rules cannot play from: a side without exactly one king, pawns on
// the first or last rank, the side not to move in check. On refusal
// returns false and says why.
bool board_from_fen(std::string_view fen, Board& board, std::string& why, bool chess960 = false);

// The FEN of the position (half-move clock written as 0); under Chess960
// rules its castling field names the rooks' files.
std::string fen_of(const Board& board);

enum class SanProblem : std::uint8_t { NONE, UNREADABLE, NO_SUCH_MOVE, AMBIGUOUS };

// What the problem means, for a message: "no such legal move".
const char* san_problem_text(SanProblem problem);

struct SanResolution {
    Move move{};
    SanProblem problem = SanProblem::NONE;
    std::string san; // the move's standard notation, when found
};

// The legal move that SAN text names in the position, and its standard
// notation. Takes what real files write: O-O and 0-0, promotion with or
// without '=', check, mate and annotation marks, the moving square spelt
// out in full, moves in coordinate form (g1f3, e7e8q, Ng1-f3, and castling
// as UCI writes it), and null moves (--, Z0, 0000, @@@@), which are
// NULL_MOVE with the notation "--".
SanResolution resolve_san(const Board& board, std::string_view text);

// The standard notation of a legal move: Nbd7, exd6, e8=Q+, O-O-O#; "--"
// for NULL_MOVE.
std::string san_of(const Board& board, Move move);

// The standard notation of the move a text names where it names a legal
// one, else the text as it stands: a move someone else wrote, to show.
std::string san_or_text(const Board& board, std::string_view text);

// How a game's Variant tag says to play it.
enum class Variant : std::uint8_t { STANDARD, CHESS960, OTHER };
Variant variant_named(std::string_view tag);

struct PgnGame;

// Plays the game's moves from its start (its FEN when SetUp is "1", else
// the starting position), by Chess960 rules when its Variant tag or FEN
// says so, into the table: the move codes, the SAN, and the
// four numbers from the comments. Stops at the first move that cannot be
// played, or before the first when the FEN is refused, and says why in
// fault; a game of another variant is not played at all. Returns whether
// the whole game was played, fault then empty; the
// fault string is the caller's so that a file of many games reuses it.
bool play_pgn_game(const PgnGame& game, Board& start, MoveTable& table, std::string& fault);

} // namespace tavrik

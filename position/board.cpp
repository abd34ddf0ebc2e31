// The board: starting position and the replay of one half-move.
#include <string_view>

#include "position/position.h"
#include "record/record.h"

namespace tavrik {

namespace {

constexpr std::array<Piece, 8> BACK_RANK = {ROOK, KNIGHT, BISHOP, QUEEN,
                                            KING, BISHOP, KNIGHT, ROOK};

// Indexed by Piece; EMPTY is a space.
constexpr std::string_view WHITE_LETTERS = " PNBRQK";
constexpr std::string_view BLACK_LETTERS = " pnbrqk";

Piece piece_on(const Board& board, Square s) {
    return board.piece[static_cast<std::size_t>(s)];
}

Colour colour_on(const Board& board, Square s) {
    return board.colour[static_cast<std::size_t>(s)];
}

// A pawn's diagonal step onto an empty square from the fifth rank to the
// sixth, or the fourth to the third, takes the opponent's pawn beside it.
// Which move came before is not looked at.
void take_en_passant(Board& board, Square from, Square to) {
    if (piece_on(board, from) != PAWN || piece_on(board, to) != EMPTY)
        return;
    const int file_step = file_of(to) - file_of(from);
    if (file_step != 1 && file_step != -1)
        return;
    const bool forward = rank_of(from) == 4 && rank_of(to) == 5;
    const bool backward = rank_of(from) == 3 && rank_of(to) == 2;
    if (!forward && !backward)
        return;
    const Square victim = to > from ? to - 8 : to + 8;
    if (piece_on(board, victim) == PAWN && colour_on(board, victim) == board.opponent)
        clear_square(board, victim);
}

// After the king has moved with a castling code, the rook jumps over it,
// whatever stood on its corner.
void move_castling_rook(Board& board, Square from, Square to) {
    const bool king_side = to > from;
    const Square rook_from = king_side ? from + 3 : from - 4;
    const Square rook_to = king_side ? to - 1 : to + 1;
    put_piece(board, rook_to, ROOK, board.side);
    clear_square(board, rook_from);
}

void forget_king_on(Board& board, Square s) {
    for (Square& king : board.king)
        if (king == s)
            king = NO_SQUARE;
}

} // namespace

void castle_onto_rook(Board& board, Square king, Square rook) {
    const bool king_side = rook > king;
    const int rank = rank_of(king);
    clear_square(board, king);
    clear_square(board, rook);
    put_piece(board, make_square(king_side ? 6 : 2, rank), KING, board.side);
    put_piece(board, make_square(king_side ? 5 : 3, rank), ROOK, board.side);
}

void put_piece(Board& board, Square s, Piece piece, Colour colour) {
    forget_king_on(board, s);
    if (piece == KING)
        board.king[colour] = s;
    board.piece[static_cast<std::size_t>(s)] = piece;
    board.colour[static_cast<std::size_t>(s)] = colour;
    const std::string_view letters = colour == BLACK ? BLACK_LETTERS : WHITE_LETTERS;
    board.letters[letter_index(s)] = letters[piece];
}

void clear_square(Board& board, Square s) {
    forget_king_on(board, s);
    board.piece[static_cast<std::size_t>(s)] = EMPTY;
    board.colour[static_cast<std::size_t>(s)] = NO_COLOUR;
    board.letters[letter_index(s)] = ' ';
}

namespace {

Board starting_board() {
    Board board;
    for (int rank = 0; rank < 8; ++rank)
        board.letters[letter_index(make_square(7, rank)) + 1] = ';';
    for (Square s = 0; s < SQUARE_COUNT; ++s) {
        const int rank = rank_of(s);
        const auto file = static_cast<std::size_t>(file_of(s));
        if (rank == 0 || rank == 7)
            put_piece(board, s, BACK_RANK[file], rank == 0 ? WHITE : BLACK);
        else if (rank == 1 || rank == 6)
            put_piece(board, s, PAWN, rank == 1 ? WHITE : BLACK);
        else
            clear_square(board, s);
    }
    board.side = WHITE;
    board.opponent = BLACK;
    board.castling = ALL_CASTLING;
    board.en_passant = NO_SQUARE;
    board.fullmove = 1;
    return board;
}

} // namespace

void setup_board(Board& board) {
    // Built once: a file of many games starts each of them from it.
    static const Board start = starting_board();
    board = start;
}

ReplayFindings replay_half_move(Board& board, const MoveTable& table, std::int64_t i) {
    const HalfMove& half_move = table.at(i);
    ReplayFindings findings = 0;

    if (half_move.flags & INVALID_BIT) {
        findings = NO_MOVE_NAMED;
    } else if (half_move.flags & NULL_MOVE_BIT) {
        // The side passes.
    } else if (half_move.flags & CASTLING_BIT) {
        castle_onto_rook(board, from_square(half_move.move), to_square(half_move.move));
    } else {
        const Square from = from_square(half_move.move);
        const Square to = to_square(half_move.move);

        if (piece_on(board, to) != EMPTY && colour_on(board, to) != board.opponent)
            findings |= TARGET_NOT_OPPONENTS;
        if (piece_on(board, from) == EMPTY || colour_on(board, from) != board.side)
            findings |= ORIGIN_NOT_MOVERS;

        // A piece moved onto its own square stays where it is, and nothing
        // is promoted out of an empty square.
        if (from != to) {
            take_en_passant(board, from, to);
            put_piece(board, to, piece_on(board, from), colour_on(board, from));
            clear_square(board, from);
            if (piece_on(board, to) == KING && is_castling_code(half_move.move))
                move_castling_rook(board, from, to);
            else if ((half_move.flags & PROMOTION_BIT) && piece_on(board, to) != EMPTY)
                put_piece(board, to, static_cast<Piece>(half_move.flags & PROMOTION_PIECE_MASK),
                          colour_on(board, to));
        }
    }

    board.opponent = board.side;
    board.side = opponent_of(board.side);
    return findings;
}

} // namespace tavrik

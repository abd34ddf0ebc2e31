// Legal moves: attacks, generation by target square, and playing a move.
//
// Moves are found backwards from their target square: SAN names the
// target and the kind of piece, so reading a game looks only at the few
// squares a piece could have come from. Whole-position generation runs
// the same search over every target.
#include <cstdlib>

#include "position/position.h"

namespace tavrik {

namespace {

struct Step {
    int file;
    int rank;
};

constexpr std::array<Step, 8> KNIGHT_STEPS = {
    {{1, 2}, {2, 1}, {2, -1}, {1, -2}, {-1, -2}, {-2, -1}, {-2, 1}, {-1, 2}}};
constexpr std::array<Step, 8> KING_STEPS = {
    {{1, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0}, {-1, -1}, {0, -1}, {1, -1}}};
constexpr std::array<Step, 4> ROOK_STEPS = {{{1, 0}, {-1, 0}, {0, 1}, {0, -1}}};
constexpr std::array<Step, 4> BISHOP_STEPS = {{{1, 1}, {1, -1}, {-1, 1}, {-1, -1}}};
constexpr std::array<Piece, 4> PROMOTIONS = {QUEEN, ROOK, BISHOP, KNIGHT};

// The square one step away, NO_SQUARE off the board.
constexpr Square step_from(Square s, Step step) {
    const int file = file_of(s) + step.file;
    const int rank = rank_of(s) + step.rank;
    return file >= 0 && file < 8 && rank >= 0 && rank < 8 ? make_square(file, rank) : NO_SQUARE;
}

Piece piece_on(const Board& board, Square s) { return board.piece[static_cast<std::size_t>(s)]; }
Colour colour_on(const Board& board, Square s) {
    return board.colour[static_cast<std::size_t>(s)];
}

bool holds(const Board& board, Square s, Piece piece, Colour colour) {
    return s != NO_SQUARE && piece_on(board, s) == piece && colour_on(board, s) == colour;
}

// The first occupied square from s in the step's direction, NO_SQUARE if
// the ray leaves the board first.
Square first_on_ray(const Board& board, Square s, Step step) {
    for (Square t = step_from(s, step); t != NO_SQUARE; t = step_from(t, step))
        if (piece_on(board, t) != EMPTY)
            return t;
    return NO_SQUARE;
}

int forward(Colour colour) { return colour == WHITE ? 1 : -1; }
int last_rank(Colour colour) { return colour == WHITE ? 7 : 0; }

// Whether the move leaves the mover's own king unattacked.
bool keeps_king_safe(const Board& board, Move move) {
    Board after = board;
    play_move(after, move);
    const Square king = king_square(after, board.side);
    return king == NO_SQUARE || !is_attacked(after, king, board.side == WHITE ? BLACK : WHITE);
}

void add_if_legal(const Board& board, Move move, MoveList& list) {
    if (keeps_king_safe(board, move))
        list.push(move);
}

// Adds the pawn moves onto `to`, each promotion apart on the last rank.
void add_pawn_moves(const Board& board, Square from, Square to, MoveList& list) {
    if (rank_of(to) != last_rank(board.side)) {
        add_if_legal(board, {from, to, EMPTY}, list);
        return;
    }
    for (const Piece promotion : PROMOTIONS)
        add_if_legal(board, {from, to, promotion}, list);
}

void pawn_moves_to(const Board& board, Square to, MoveList& list) {
    const Colour side = board.side;
    const int back = -forward(side);
    if (piece_on(board, to) == EMPTY) {
        const Square one = step_from(to, {0, back});
        if (holds(board, one, PAWN, side)) {
            add_pawn_moves(board, one, to, list);
        } else if (one != NO_SQUARE && piece_on(board, one) == EMPTY &&
                   rank_of(to) == (side == WHITE ? 3 : 4)) {
            const Square two = step_from(one, {0, back});
            if (holds(board, two, PAWN, side))
                add_pawn_moves(board, two, to, list);
        }
    }
    const bool capture = colour_on(board, to) == opponent_of(side) ||
                         (to == board.en_passant && piece_on(board, to) == EMPTY);
    if (!capture)
        return;
    for (const int file_step : {-1, 1}) {
        const Square from = step_from(to, {file_step, back});
        if (holds(board, from, PAWN, side))
            add_pawn_moves(board, from, to, list);
    }
}

bool castling_allowed(const Board& board, bool king_side) {
    const Colour side = board.side;
    const int rank = side == WHITE ? 0 : 7;
    const unsigned right = side == WHITE ? (king_side ? WHITE_OO : WHITE_OOO)
                                         : (king_side ? BLACK_OO : BLACK_OOO);
    const Square king = make_square(4, rank);
    const Square rook = make_square(king_side ? 7 : 0, rank);
    if ((board.castling & right) == 0 || !holds(board, king, KING, side) ||
        !holds(board, rook, ROOK, side))
        return false;
    for (int file = king_side ? 5 : 1; file < (king_side ? 7 : 4); ++file)
        if (piece_on(board, make_square(file, rank)) != EMPTY)
            return false;
    // The king may not stand in, pass through or land in check.
    const Colour enemy = opponent_of(side);
    for (int file = 4; file != (king_side ? 7 : 1); file += king_side ? 1 : -1)
        if (is_attacked(board, make_square(file, rank), enemy))
            return false;
    return true;
}

template <std::size_t N>
void stepper_moves_to(const Board& board, Square to, Piece piece,
                      const std::array<Step, N>& steps, MoveList& list) {
    for (const Step step : steps) {
        const Square from = step_from(to, step);
        if (holds(board, from, piece, board.side))
            add_if_legal(board, {from, to, EMPTY}, list);
    }
}

void slider_moves_to(const Board& board, Square to, Piece piece, const std::array<Step, 4>& steps,
                     MoveList& list) {
    for (const Step step : steps) {
        const Square from = first_on_ray(board, to, step);
        if (holds(board, from, piece, board.side))
            add_if_legal(board, {from, to, EMPTY}, list);
    }
}

void king_moves_to(const Board& board, Square to, MoveList& list) {
    stepper_moves_to(board, to, KING, KING_STEPS, list);
    const int rank = board.side == WHITE ? 0 : 7;
    const Square king = make_square(4, rank);
    if (to == make_square(6, rank) && castling_allowed(board, true))
        list.push({king, to, EMPTY});
    if (to == make_square(2, rank) && castling_allowed(board, false))
        list.push({king, to, EMPTY});
}

void clear(Board& board, Square s) {
    if (piece_on(board, s) != EMPTY)
        clear_square(board, s);
}

} // namespace

bool is_attacked(const Board& board, Square s, Colour by) {
    // A pawn of `by` attacks from one rank behind s, seen from its side.
    for (const int file_step : {-1, 1})
        if (holds(board, step_from(s, {file_step, -forward(by)}), PAWN, by))
            return true;
    for (const Step step : KNIGHT_STEPS)
        if (holds(board, step_from(s, step), KNIGHT, by))
            return true;
    for (const Step step : KING_STEPS)
        if (holds(board, step_from(s, step), KING, by))
            return true;
    for (const Step step : ROOK_STEPS) {
        const Square t = first_on_ray(board, s, step);
        if (holds(board, t, ROOK, by) || holds(board, t, QUEEN, by))
            return true;
    }
    for (const Step step : BISHOP_STEPS) {
        const Square t = first_on_ray(board, s, step);
        if (holds(board, t, BISHOP, by) || holds(board, t, QUEEN, by))
            return true;
    }
    return false;
}

Square king_square(const Board& board, Colour colour) {
    for (Square s = 0; s < SQUARE_COUNT; ++s)
        if (holds(board, s, KING, colour))
            return s;
    return NO_SQUARE;
}

bool in_check(const Board& board, Colour colour) {
    const Square king = king_square(board, colour);
    return king != NO_SQUARE && is_attacked(board, king, opponent_of(colour));
}

MoveList legal_moves_to(const Board& board, Piece piece, Square to) {
    MoveList list;
    if (!is_on_board(to) || colour_on(board, to) == board.side)
        return list;
    switch (piece) {
    case PAWN:
        pawn_moves_to(board, to, list);
        break;
    case KNIGHT:
        stepper_moves_to(board, to, KNIGHT, KNIGHT_STEPS, list);
        break;
    case BISHOP:
        slider_moves_to(board, to, BISHOP, BISHOP_STEPS, list);
        break;
    case ROOK:
        slider_moves_to(board, to, ROOK, ROOK_STEPS, list);
        break;
    case QUEEN:
        slider_moves_to(board, to, QUEEN, ROOK_STEPS, list);
        slider_moves_to(board, to, QUEEN, BISHOP_STEPS, list);
        break;
    case KING:
        king_moves_to(board, to, list);
        break;
    case EMPTY:
        break;
    }
    return list;
}

MoveList legal_moves(const Board& board) {
    MoveList all;
    for (Square to = 0; to < SQUARE_COUNT; ++to) {
        if (colour_on(board, to) == board.side)
            continue;
        for (const Piece piece : {PAWN, KNIGHT, BISHOP, ROOK, QUEEN, KING})
            for (const Move move : legal_moves_to(board, piece, to))
                all.push(move);
    }
    return all;
}

void play_move(Board& board, Move move) {
    const Piece piece = piece_on(board, move.from);
    const Colour side = colour_on(board, move.from);
    const int rank = rank_of(move.from);

    if (piece == PAWN && move.to == board.en_passant && file_of(move.to) != file_of(move.from) &&
        piece_on(board, move.to) == EMPTY)
        clear(board, make_square(file_of(move.to), rank));
    if (piece == KING && std::abs(file_of(move.to) - file_of(move.from)) == 2) {
        const bool king_side = file_of(move.to) > file_of(move.from);
        clear(board, make_square(king_side ? 7 : 0, rank));
        put_piece(board, make_square(king_side ? 5 : 3, rank), ROOK, side);
    }
    put_piece(board, move.to, move.promotion != EMPTY ? move.promotion : piece, side);
    clear_square(board, move.from);

    // A right goes with the king, or with the rook's corner when anything
    // leaves or lands on it.
    if (piece == KING)
        board.castling &= side == WHITE ? ~unsigned{WHITE_OO | WHITE_OOO}
                                        : ~unsigned{BLACK_OO | BLACK_OOO};
    for (const Square s : {move.from, move.to}) {
        if (s == make_square(7, 0))
            board.castling &= ~unsigned{WHITE_OO};
        else if (s == make_square(0, 0))
            board.castling &= ~unsigned{WHITE_OOO};
        else if (s == make_square(7, 7))
            board.castling &= ~unsigned{BLACK_OO};
        else if (s == make_square(0, 7))
            board.castling &= ~unsigned{BLACK_OOO};
    }
    board.en_passant = piece == PAWN && std::abs(move.to - move.from) == 16
                           ? (move.from + move.to) / 2
                           : NO_SQUARE;
    if (side == BLACK)
        ++board.fullmove;
    board.side = opponent_of(side);
    board.opponent = side;
}

MoveCode code_of(Move move) { return make_move(move.from, move.to); }

MoveFlags flags_of(Move move) {
    return move.promotion == EMPTY ? MoveFlags{0}
                                   : static_cast<MoveFlags>(PROMOTION_BIT | move.promotion);
}

} // namespace tavrik

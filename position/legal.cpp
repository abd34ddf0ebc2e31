// Legal moves: attacks, generation by target square, and playing a move.
//
// Moves are found backwards from their target square: SAN names the
// target and the kind of piece, so reading a game looks only at the few
// squares a piece could have come from. Whole-position generation runs
// the same search over every target.
#include <algorithm>
#include <cstdint>
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

// Attacks are looked up far more often than anything else: the squares a
// step or a ray reaches from each square are worked out once, here.
template <std::size_t N>
using StepTable = std::array<std::array<Square, N>, SQUARE_COUNT>;

template <std::size_t N>
constexpr StepTable<N> step_table(const std::array<Step, N>& steps) {
    StepTable<N> table{};
    for (Square s = 0; s < SQUARE_COUNT; ++s)
        for (std::size_t k = 0; k < N; ++k)
            table[static_cast<std::size_t>(s)][k] = step_from(s, steps[k]);
    return table;
}

constexpr StepTable<8> KNIGHT_FROM = step_table(KNIGHT_STEPS);
constexpr StepTable<8> KING_FROM = step_table(KING_STEPS);

// The squares from a square outwards in one direction, to the edge.
struct Ray {
    std::array<Square, 7> squares{};
    std::size_t length = 0;
};
using RayTable = std::array<std::array<Ray, 4>, SQUARE_COUNT>;

constexpr RayTable ray_table(const std::array<Step, 4>& steps) {
    RayTable table{};
    for (Square s = 0; s < SQUARE_COUNT; ++s) {
        for (std::size_t k = 0; k < 4; ++k) {
            Ray& ray = table[static_cast<std::size_t>(s)][k];
            for (Square t = step_from(s, steps[k]); t != NO_SQUARE; t = step_from(t, steps[k]))
                ray.squares[ray.length++] = t;
        }
    }
    return table;
}

constexpr RayTable ROOK_RAYS = ray_table(ROOK_STEPS);
constexpr RayTable BISHOP_RAYS = ray_table(BISHOP_STEPS);

Piece piece_on(const Board& board, Square s) { return board.piece[static_cast<std::size_t>(s)]; }
Colour colour_on(const Board& board, Square s) {
    return board.colour[static_cast<std::size_t>(s)];
}

// The first occupied square along the ray, NO_SQUARE if the ray leaves
// the board first.
Square first_on_ray(const Board& board, const Ray& ray) {
    for (std::size_t k = 0; k < ray.length; ++k)
        if (piece_on(board, ray.squares[k]) != EMPTY)
            return ray.squares[k];
    return NO_SQUARE;
}

int forward(Colour colour) { return colour == WHITE ? 1 : -1; }
int last_rank(Colour colour) { return colour == WHITE ? 7 : 0; }

// The search for the legal moves onto one square: the board, the list it
// fills, and what the test of legality needs of the mover's king.
struct Search {
    const Board& board;
    MoveList& list;
    Square king;
    bool checked;
};

Search search_for(const Board& board, MoveList& list) {
    const Square king = king_square(board, board.side);
    return {board, list, king, king != NO_SQUARE && is_attacked(board, king, board.opponent)};
}

bool in_line(Square a, Square b) {
    const int files = file_of(a) - file_of(b);
    const int ranks = rank_of(a) - rank_of(b);
    return files == 0 || ranks == 0 || files == ranks || files == -ranks;
}

// Whether the move leaves the mover's own king unattacked. Only a king
// in check, a king move, en passant, or a piece in line with its king can
// go wrong; the rest need no trial.
bool keeps_king_safe(const Search& search, Move move) {
    const Board& board = search.board;
    if (search.king == NO_SQUARE)
        return true;
    const bool king_moves = move.from == search.king;
    const bool en_passant = piece_on(board, move.from) == PAWN && move.to == board.en_passant;
    if (!search.checked && !king_moves && !en_passant && !in_line(move.from, search.king))
        return true;
    Board after = board;
    play_move(after, move);
    return !is_attacked(after, king_moves ? move.to : search.king, board.opponent);
}

void add_if_legal(Search& search, Move move) {
    if (keeps_king_safe(search, move))
        search.list.push(move);
}

// Adds the pawn moves onto `to`, each promotion apart on the last rank.
void add_pawn_moves(Search& search, Square from, Square to) {
    if (rank_of(to) != last_rank(search.board.side)) {
        add_if_legal(search, {from, to, EMPTY});
        return;
    }
    for (const Piece promotion : PROMOTIONS)
        add_if_legal(search, {from, to, promotion});
}

void pawn_moves_to(Search& search, Square to) {
    const Board& board = search.board;
    const Colour side = board.side;
    const int back = -forward(side);
    if (piece_on(board, to) == EMPTY) {
        const Square one = step_from(to, {0, back});
        if (holds(board, one, PAWN, side)) {
            add_pawn_moves(search, one, to);
        } else if (one != NO_SQUARE && piece_on(board, one) == EMPTY &&
                   rank_of(to) == (side == WHITE ? 3 : 4)) {
            const Square two = step_from(one, {0, back});
            if (holds(board, two, PAWN, side))
                add_pawn_moves(search, two, to);
        }
    }
    const bool capture = colour_on(board, to) == opponent_of(side) ||
                         (to == board.en_passant && piece_on(board, to) == EMPTY);
    if (!capture)
        return;
    for (const int file_step : {-1, 1}) {
        const Square from = step_from(to, {file_step, back});
        if (holds(board, from, PAWN, side))
            add_pawn_moves(search, from, to);
    }
}

// The castling move to that side when the rules allow it now. Under either
// rules the king ends on the g or c file and the rook beside it; every
// square they pass or land on is empty but for the two, and the king may
// not stand in, pass through or land in check.
bool castling_allowed(const Board& board, bool king_side, Move& move) {
    const Colour side = board.side;
    const int rank = side == WHITE ? 0 : 7;
    const std::size_t index = castling_index(side, king_side);
    const Square king = board.king[side];
    if ((board.castling & (1U << index)) == 0 || king == NO_SQUARE || rank_of(king) != rank)
        return false;
    const Square rook = make_square(board.castling_rook[index], rank);
    if (!holds(board, king, KING, side) || !holds(board, rook, ROOK, side) ||
        (file_of(rook) > file_of(king)) != king_side)
        return false;
    const int king_to = king_side ? 6 : 2;
    const int rook_to = king_side ? 5 : 3;
    const int low = std::min({file_of(king), file_of(rook), king_to, rook_to});
    const int high = std::max({file_of(king), file_of(rook), king_to, rook_to});
    for (int file = low; file <= high; ++file) {
        const Square s = make_square(file, rank);
        if (s != king && s != rook && piece_on(board, s) != EMPTY)
            return false;
    }
    // Without the rook, which may have shielded a square of the king's way.
    Board bare = board;
    clear_square(bare, rook);
    const Colour enemy = opponent_of(side);
    const int step = king_to > file_of(king) ? 1 : -1;
    for (int file = file_of(king);; file += step) {
        if (is_attacked(bare, make_square(file, rank), enemy))
            return false;
        if (file == king_to)
            break;
    }
    move = {king, board.chess960 ? rook : make_square(king_to, rank), EMPTY};
    return true;
}

// Adds the castling moves onto `to`: the king's target square in standard
// chess, the rook's square under Chess960 rules.
void castling_moves_to(Search& search, Square to) {
    for (const bool king_side : {true, false}) {
        Move move{};
        if (castling_allowed(search.board, king_side, move) && move.to == to)
            search.list.push(move);
    }
}

void stepper_moves_to(Search& search, Square to, Piece piece, const StepTable<8>& table) {
    for (const Square from : table[static_cast<std::size_t>(to)])
        if (holds(search.board, from, piece, search.board.side))
            add_if_legal(search, {from, to, EMPTY});
}

void slider_moves_to(Search& search, Square to, Piece piece, const RayTable& rays) {
    for (const Ray& ray : rays[static_cast<std::size_t>(to)]) {
        const Square from = first_on_ray(search.board, ray);
        if (holds(search.board, from, piece, search.board.side))
            add_if_legal(search, {from, to, EMPTY});
    }
}

void king_moves_to(Search& search, Square to) {
    stepper_moves_to(search, to, KING, KING_FROM);
    const int rank = search.board.side == WHITE ? 0 : 7;
    if (!search.board.chess960 && rank_of(to) == rank && (file_of(to) == 6 || file_of(to) == 2))
        castling_moves_to(search, to);
}

void clear(Board& board, Square s) {
    if (piece_on(board, s) != EMPTY)
        clear_square(board, s);
}

void add_legal_moves_to(Search& search, Piece piece, Square to) {
    if (!is_on_board(to))
        return;
    if (colour_on(search.board, to) == search.board.side) {
        // Under Chess960 rules the king castles onto its own rook.
        if (piece == KING && search.board.chess960)
            castling_moves_to(search, to);
        return;
    }
    switch (piece) {
    case PAWN:
        pawn_moves_to(search, to);
        break;
    case KNIGHT:
        stepper_moves_to(search, to, KNIGHT, KNIGHT_FROM);
        break;
    case BISHOP:
        slider_moves_to(search, to, BISHOP, BISHOP_RAYS);
        break;
    case ROOK:
        slider_moves_to(search, to, ROOK, ROOK_RAYS);
        break;
    case QUEEN:
        slider_moves_to(search, to, QUEEN, ROOK_RAYS);
        slider_moves_to(search, to, QUEEN, BISHOP_RAYS);
        break;
    case KING:
        king_moves_to(search, to);
        break;
    case EMPTY:
        break;
    }
}

// The squares onto which a move other than the king's can answer the
// checks on king by `by`: each checker's square, the squares between a
// checking slider and the king, and the en passant square when the
// checker is the pawn that just stepped past it. None when nothing checks.
// The same attacks as is_attacked, so that no answer is missed.
std::uint64_t check_answers(const Board& board, Square king, Colour by) {
    const auto at = static_cast<std::size_t>(king);
    const auto bit = [](Square s) { return std::uint64_t{1} << s; };
    std::uint64_t squares = 0;
    for (const int file_step : {-1, 1}) {
        const Square from = step_from(king, {file_step, -forward(by)});
        if (!holds(board, from, PAWN, by))
            continue;
        squares |= bit(from);
        if (board.en_passant != NO_SQUARE && board.en_passant == step_from(from, {0, -forward(by)}))
            squares |= bit(board.en_passant);
    }
    for (const Square from : KNIGHT_FROM[at])
        if (holds(board, from, KNIGHT, by))
            squares |= bit(from);
    for (const Square from : KING_FROM[at])
        if (holds(board, from, KING, by))
            squares |= bit(from);
    const auto along = [&](const RayTable& rays, Piece piece) {
        for (const Ray& ray : rays[at]) {
            std::uint64_t passed = 0;
            for (std::size_t k = 0; k < ray.length; ++k) {
                const Square s = ray.squares[k];
                passed |= bit(s);
                if (piece_on(board, s) == EMPTY)
                    continue;
                if (holds(board, s, piece, by) || holds(board, s, QUEEN, by))
                    squares |= passed;
                break;
            }
        }
    };
    along(ROOK_RAYS, ROOK);
    along(BISHOP_RAYS, BISHOP);
    return squares;
}

} // namespace

bool is_attacked(const Board& board, Square s, Colour by) {
    const auto at = static_cast<std::size_t>(s);
    // A pawn of `by` attacks from one rank behind s, seen from its side.
    for (const int file_step : {-1, 1})
        if (holds(board, step_from(s, {file_step, -forward(by)}), PAWN, by))
            return true;
    for (const Square from : KNIGHT_FROM[at])
        if (holds(board, from, KNIGHT, by))
            return true;
    for (const Square from : KING_FROM[at])
        if (holds(board, from, KING, by))
            return true;
    const auto slides_to_s = [&](const RayTable& rays, Piece piece) {
        return std::ranges::any_of(rays[at], [&](const Ray& ray) {
            const Square t = first_on_ray(board, ray);
            return holds(board, t, piece, by) || holds(board, t, QUEEN, by);
        });
    };
    return slides_to_s(ROOK_RAYS, ROOK) || slides_to_s(BISHOP_RAYS, BISHOP);
}

bool in_check(const Board& board, Colour colour) {
    const Square king = king_square(board, colour);
    return king != NO_SQUARE && is_attacked(board, king, opponent_of(colour));
}

MoveList legal_moves_to(const Board& board, Piece piece, Square to) {
    MoveList list;
    Search search = search_for(board, list);
    add_legal_moves_to(search, piece, to);
    return list;
}

MoveList legal_moves(const Board& board) {
    MoveList all;
    Search search = search_for(board, all);
    for (Square to = 0; to < SQUARE_COUNT; ++to)
        for (const Piece piece : {PAWN, KNIGHT, BISHOP, ROOK, QUEEN, KING})
            add_legal_moves_to(search, piece, to);
    return all;
}

bool has_legal_move(const Board& board) {
    MoveList some;
    Search search = search_for(board, some);
    // This is asked after every check: a king that steps out of it is the
    // usual answer, so its squares are tried before the whole board.
    if (search.king != NO_SQUARE)
        for (const Square to : KING_FROM[static_cast<std::size_t>(search.king)]) {
            add_legal_moves_to(search, KING, to);
            if (some.size > 0)
                return true;
        }
    // In check, the king's moves have been tried (castling is no answer),
    // and any other answer lands on one of few squares: a mate no longer
    // searches the whole board.
    const std::uint64_t targets =
        search.checked ? check_answers(board, search.king, board.opponent) : ~std::uint64_t{0};
    for (Square to = 0; to < SQUARE_COUNT; ++to) {
        if (((targets >> to) & 1U) == 0)
            continue;
        for (const Piece piece : {KING, PAWN, KNIGHT, BISHOP, ROOK, QUEEN}) {
            add_legal_moves_to(search, piece, to);
            if (some.size > 0)
                return true;
        }
    }
    return false;
}

bool is_castling(const Board& board, Move move) {
    if (is_null(move) || piece_on(board, move.from) != KING)
        return false;
    if (board.chess960)
        return holds(board, move.to, ROOK, colour_on(board, move.from));
    return std::abs(file_of(move.to) - file_of(move.from)) == 2;
}

void play_move(Board& board, Move move) {
    const Colour side = board.side;
    if (is_null(move)) {
        board.en_passant = NO_SQUARE;
    } else {
        const Piece piece = piece_on(board, move.from);
        const int rank = rank_of(move.from);
        if (is_castling(board, move)) {
            const bool king_side = file_of(move.to) > file_of(move.from);
            castle_onto_rook(board, move.from, board.chess960 ? move.to : make_square(king_side ? 7 : 0, rank));
        } else {
            if (piece == PAWN && move.to == board.en_passant && file_of(move.to) != file_of(move.from) &&
                piece_on(board, move.to) == EMPTY)
                clear(board, make_square(file_of(move.to), rank));
            put_piece(board, move.to, move.promotion != EMPTY ? move.promotion : piece, side);
            clear_square(board, move.from);
        }

        // A right goes with the king, or with its rook's square when
        // anything leaves or lands on it.
        if (piece == KING)
            board.castling &= side == WHITE ? ~unsigned{WHITE_OO | WHITE_OOO}
                                            : ~unsigned{BLACK_OO | BLACK_OOO};
        for (std::size_t k = 0; k < board.castling_rook.size(); ++k) {
            const Square rook = make_square(board.castling_rook[k], k < 2 ? 0 : 7);
            if (move.from == rook || move.to == rook)
                board.castling &= ~(1U << k);
        }
        board.en_passant = piece == PAWN && std::abs(move.to - move.from) == 16
                               ? (move.from + move.to) / 2
                               : NO_SQUARE;
    }
    if (side == BLACK)
        ++board.fullmove;
    board.side = opponent_of(side);
    board.opponent = side;
}

MoveCode code_of(Move move) { return is_null(move) ? MoveCode{0} : make_move(move.from, move.to); }

Move move_of(MoveCode code, MoveFlags flags) {
    if ((flags & NULL_MOVE_BIT) != 0)
        return NULL_MOVE;
    return {from_square(code), to_square(code),
            (flags & PROMOTION_BIT) != 0 ? static_cast<Piece>(flags & PROMOTION_PIECE_MASK) : EMPTY};
}

MoveFlags flags_of(const Board& board, Move move) {
    if (is_null(move))
        return NULL_MOVE_BIT;
    if (board.chess960 && is_castling(board, move))
        return CASTLING_BIT;
    return move.promotion == EMPTY ? MoveFlags{0}
                                   : static_cast<MoveFlags>(PROMOTION_BIT | move.promotion);
}

} // namespace tavrik

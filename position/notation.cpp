// Positions from FEN and moves in standard algebraic notation.
#include <algorithm>
#include <array>
#include <cstdlib>

#include "position/position.h"

namespace tavrik {

namespace {

constexpr std::string_view PIECE_LETTERS = " PNBRQK";

Piece piece_of_letter(char upper) {
    const std::size_t at = PIECE_LETTERS.find(upper, 1);
    return at == std::string_view::npos ? EMPTY : static_cast<Piece>(at);
}

bool is_file_letter(char c) { return c >= 'a' && c <= 'h'; }
bool is_rank_digit(char c) { return c >= '1' && c <= '8'; }

// The FEN's fields, split at runs of spaces: the six it can have, and
// how many it gave of them; any after the sixth are passed over.
struct FenFields {
    std::array<std::string_view, 6> field;
    std::size_t count = 0;
};

FenFields fields_of(std::string_view text) {
    FenFields fields;
    std::size_t pos = 0;
    while (pos < text.size() && fields.count < fields.field.size()) {
        const std::size_t start = text.find_first_not_of(' ', pos);
        if (start == std::string_view::npos)
            break;
        const std::size_t stop = std::min(text.find(' ', start), text.size());
        fields.field[fields.count++] = text.substr(start, stop - start);
        pos = stop;
    }
    return fields;
}

bool place_pieces(std::string_view field, Board& board, std::string& why) {
    int rank = 7;
    int file = 0;
    for (const char c : field) {
        if (c == '/') {
            if (file != 8 || rank == 0) {
                why = "a rank of the FEN does not hold eight squares";
                return false;
            }
            --rank;
            file = 0;
        } else if (c >= '1' && c <= '8') {
            file += c - '0';
        } else {
            const Piece piece = piece_of_letter(static_cast<char>(c & ~0x20));
            if (piece == EMPTY || file >= 8) {
                why = piece == EMPTY ? std::string("the FEN holds '") + c + "' among its pieces"
                                     : "a rank of the FEN does not hold eight squares";
                return false;
            }
            put_piece(board, make_square(file, rank), piece, (c & 0x20) != 0 ? BLACK : WHITE);
            ++file;
        }
        if (file > 8) {
            why = "a rank of the FEN does not hold eight squares";
            return false;
        }
    }
    if (rank != 0 || file != 8) {
        why = "the FEN does not hold eight ranks of eight squares";
        return false;
    }
    return true;
}

// The castling field: KQkq, the rook's files (Shredder-FEN: HAha), or K and
// Q meaning the outermost rook on that side of the king (X-FEN). A file
// named, or a K or Q that is not the standard corner's, means Chess960.
// A right whose king or rook is not there is dropped, as some files' FENs
// keep rights the pieces no longer allow.
bool read_castling(std::string_view field, Board& board, std::string& why) {
    board.castling = 0;
    if (field == "-")
        return true;
    for (const char c : field) {
        const Colour colour = c >= 'a' ? BLACK : WHITE;
        const char upper = static_cast<char>(c & ~0x20);
        const int rank = colour == WHITE ? 0 : 7;
        const Square king = board.king[colour];
        const bool king_home = king != NO_SQUARE && rank_of(king) == rank;
        int file = -1;
        bool king_side = upper == 'K';
        if (upper == 'K' || upper == 'Q') {
            for (int f = king_side ? 7 : 0; king_home && f != file_of(king); f += king_side ? -1 : 1)
                if (holds(board, make_square(f, rank), ROOK, colour)) {
                    file = f;
                    break;
                }
            if (file >= 0 && (file != (king_side ? 7 : 0) || file_of(king) != 4))
                board.chess960 = true;
        } else if (upper >= 'A' && upper <= 'H') {
            file = upper - 'A';
            board.chess960 = true;
            if (!king_home || !holds(board, make_square(file, rank), ROOK, colour) || file == file_of(king))
                file = -1;
            else
                king_side = file > file_of(king);
        } else {
            why = "the FEN's castling field is not KQkq, rook files or -";
            return false;
        }
        if (file < 0)
            continue;
        const std::size_t index = castling_index(colour, king_side);
        board.castling |= 1U << index;
        board.castling_rook[index] = static_cast<std::int8_t>(file);
    }
    return true;
}

bool is_playable(const Board& board, std::string& why) {
    for (const Colour colour : {WHITE, BLACK}) {
        int kings = 0;
        for (Square s = 0; s < SQUARE_COUNT; ++s)
            kings += board.piece[static_cast<std::size_t>(s)] == KING &&
                     board.colour[static_cast<std::size_t>(s)] == colour;
        if (kings != 1) {
            why = std::string("the FEN's position has ") + (kings == 0 ? "no " : "more than one ") +
                  (colour == WHITE ? "white" : "black") + " king";
            return false;
        }
    }
    for (int file = 0; file < 8; ++file)
        if (board.piece[static_cast<std::size_t>(make_square(file, 0))] == PAWN ||
            board.piece[static_cast<std::size_t>(make_square(file, 7))] == PAWN) {
            why = "the FEN's position has a pawn on the first or last rank";
            return false;
        }
    if (in_check(board, board.opponent)) {
        why = "in the FEN's position the side not to move is in check";
        return false;
    }
    return true;
}

// SAN with its marks taken off: "Nbd7", "exd8=Q", "O-O".
std::string_view without_marks(std::string_view text) {
    while (!text.empty() && std::string_view("+#!?").find(text.back()) != std::string_view::npos)
        text.remove_suffix(1);
    return text;
}

struct SanParts {
    bool null = false;
    // Both squares written out and no piece letter (g1f3, e2-e4): the piece
    // is the one on the first square, and a king's move may be castling as
    // UCI writes it.
    bool coordinates = false;
    Piece piece = PAWN;
    Square to = NO_SQUARE;
    int from_file = -1;
    int from_rank = -1;
    Piece promotion = EMPTY;
    int castling = 0; // 1 king side, 2 queen side
};

bool parse_san(std::string_view text, SanParts& parts) {
    if (text == "--" || text == "Z0" || text == "0000" || text == "@@@@") {
        parts.null = true;
        return true;
    }
    text = without_marks(text);
    const bool lettered = !text.empty() && piece_of_letter(text.front()) != EMPTY;
    if (text == "O-O" || text == "0-0" || text == "o-o") {
        parts.castling = 1;
        return true;
    }
    if (text == "O-O-O" || text == "0-0-0" || text == "o-o-o") {
        parts.castling = 2;
        return true;
    }
    if (!text.empty() && text.front() != 'P' && piece_of_letter(text.front()) != EMPTY) {
        parts.piece = piece_of_letter(text.front());
        text.remove_prefix(1);
    } else if (!text.empty() && text.front() == 'P') {
        text.remove_prefix(1);
    }
    // A promotion piece after the target square, with or without '='.
    if (text.size() >= 3) {
        const char last = text.back();
        const Piece promotion = piece_of_letter(static_cast<char>(last & ~0x20));
        const char before = text[text.size() - 2];
        if (promotion != EMPTY && promotion != PAWN && promotion != KING &&
            (before == '=' || is_rank_digit(before))) {
            parts.promotion = promotion;
            text.remove_suffix(before == '=' ? 2 : 1);
        }
    }
    if (text.size() < 2 || !is_file_letter(text[text.size() - 2]) || !is_rank_digit(text.back()))
        return false;
    parts.to = make_square(text[text.size() - 2] - 'a', text.back() - '1');
    text.remove_suffix(2);
    if (!text.empty() && (text.back() == 'x' || text.back() == '-' || text.back() == ':'))
        text.remove_suffix(1);
    if (!text.empty() && is_file_letter(text.front())) {
        parts.from_file = text.front() - 'a';
        text.remove_prefix(1);
    }
    if (!text.empty() && is_rank_digit(text.front())) {
        parts.from_rank = text.front() - '1';
        text.remove_prefix(1);
    }
    parts.coordinates = !lettered && parts.from_file >= 0 && parts.from_rank >= 0;
    return text.empty() && (parts.promotion == EMPTY || parts.piece == PAWN || parts.coordinates);
}

// The SAN of a legal move, given the legal moves of the same kind of piece
// onto the same square.
std::string san_among(const Board& board, Move move, const MoveList& rivals) {
    const Piece piece = board.piece[static_cast<std::size_t>(move.from)];
    std::string san;
    if (is_castling(board, move)) {
        san = file_of(move.to) > file_of(move.from) ? "O-O" : "O-O-O";
    } else {
        const bool capture = board.piece[static_cast<std::size_t>(move.to)] != EMPTY ||
                             (piece == PAWN && file_of(move.to) != file_of(move.from));
        if (piece == PAWN) {
            if (capture)
                san += static_cast<char>('a' + file_of(move.from));
        } else {
            san += PIECE_LETTERS[piece];
            // Name the file of the origin if that tells it apart, else the
            // rank, else both.
            bool others = false;
            bool same_file = false;
            bool same_rank = false;
            for (const Move other : rivals) {
                if (other.from == move.from)
                    continue;
                others = true;
                same_file = same_file || file_of(other.from) == file_of(move.from);
                same_rank = same_rank || rank_of(other.from) == rank_of(move.from);
            }
            if (others && (!same_file || same_rank))
                san += static_cast<char>('a' + file_of(move.from));
            if (others && same_file)
                san += static_cast<char>('1' + rank_of(move.from));
        }
        if (capture)
            san += 'x';
        san += static_cast<char>('a' + file_of(move.to));
        san += static_cast<char>('1' + rank_of(move.to));
        if (move.promotion != EMPTY) {
            san += '=';
            san += PIECE_LETTERS[move.promotion];
        }
    }
    Board after = board;
    play_move(after, move);
    if (in_check(after, after.side))
        san += has_legal_move(after) ? '+' : '#';
    return san;
}

} // namespace

bool board_from_fen(std::string_view fen, Board& board, std::string& why, bool chess960) {
    board = Board{};
    setup_board(board);
    for (Square s = 0; s < SQUARE_COUNT; ++s)
        clear_square(board, s);
    board.chess960 = chess960;
    const FenFields split = fields_of(fen);
    const std::array<std::string_view, 6>& fields = split.field;
    if (split.count < 4) {
        why = "the FEN has fewer than four fields";
        return false;
    }
    if (!place_pieces(fields[0], board, why))
        return false;
    if (fields[1] != "w" && fields[1] != "b") {
        why = "the FEN's side to move is not w or b";
        return false;
    }
    board.side = fields[1] == "w" ? WHITE : BLACK;
    board.opponent = opponent_of(board.side);
    if (!read_castling(fields[2], board, why))
        return false;
    board.en_passant = NO_SQUARE;
    if (fields[3] != "-") {
        if (fields[3].size() != 2 || !is_file_letter(fields[3][0]) ||
            (fields[3][1] != (board.side == WHITE ? '6' : '3'))) {
            why = "the FEN's en passant square is not a square behind a pawn";
            return false;
        }
        board.en_passant = make_square(fields[3][0] - 'a', fields[3][1] - '1');
        // Only a pawn that has just stepped two squares past it can be
        // taken there; a field that says otherwise is passed over.
        const int ahead = board.side == WHITE ? -8 : 8;
        const auto at = [&](Square s) { return static_cast<std::size_t>(s); };
        const Square pawn = board.en_passant + ahead;
        const Square start = board.en_passant - ahead;
        if (board.piece[at(pawn)] != PAWN || board.colour[at(pawn)] != board.opponent ||
            board.piece[at(board.en_passant)] != EMPTY || board.piece[at(start)] != EMPTY)
            board.en_passant = NO_SQUARE;
    }
    board.fullmove = 1;
    if (split.count == 6) {
        std::int64_t number = 0;
        for (const char c : fields[5]) {
            if (c < '0' || c > '9' || number > 100'000'000) {
                why = "the FEN's move number is not a number";
                return false;
            }
            number = number * 10 + (c - '0');
        }
        board.fullmove = std::max<std::int64_t>(number, 1);
    }
    return is_playable(board, why);
}

std::string fen_of(const Board& board) {
    std::string fen;
    for (int rank = 7; rank >= 0; --rank) {
        int empty = 0;
        for (int file = 0; file < 8; ++file) {
            const auto s = static_cast<std::size_t>(make_square(file, rank));
            if (board.piece[s] == EMPTY) {
                ++empty;
                continue;
            }
            if (empty > 0)
                fen += static_cast<char>('0' + empty);
            empty = 0;
            const char letter = PIECE_LETTERS[board.piece[s]];
            fen += board.colour[s] == BLACK ? static_cast<char>(letter | 0x20) : letter;
        }
        if (empty > 0)
            fen += static_cast<char>('0' + empty);
        if (rank > 0)
            fen += '/';
    }
    fen += board.side == WHITE ? " w " : " b ";
    std::string castling;
    for (std::size_t k = 0; k < 4; ++k)
        if ((board.castling & (1U << k)) != 0)
            castling += board.chess960 ? static_cast<char>((k < 2 ? 'A' : 'a') + board.castling_rook[k])
                                       : "KQkq"[k];
    fen += castling.empty() ? "-" : castling;
    fen += ' ';
    if (board.en_passant == NO_SQUARE) {
        fen += '-';
    } else {
        fen += static_cast<char>('a' + file_of(board.en_passant));
        fen += static_cast<char>('1' + rank_of(board.en_passant));
    }
    fen += " 0 " + std::to_string(board.fullmove);
    return fen;
}

const char* san_problem_text(SanProblem problem) {
    switch (problem) {
    case SanProblem::NONE:
        return "";
    case SanProblem::UNREADABLE:
        return "not a move in algebraic notation";
    case SanProblem::NO_SUCH_MOVE:
        return "no such legal move";
    case SanProblem::AMBIGUOUS:
        return "ambiguous move";
    }
    return "";
}

SanResolution resolve_san(const Board& board, std::string_view text) {
    SanParts parts;
    if (!parse_san(text, parts))
        return {{}, SanProblem::UNREADABLE, {}};
    if (parts.null)
        return {NULL_MOVE, SanProblem::NONE, "--"};
    if (parts.castling != 0) {
        const int rank = board.side == WHITE ? 0 : 7;
        const Square king = king_square(board, board.side);
        const std::size_t right = castling_index(board.side, parts.castling == 1);
        parts.piece = KING;
        parts.to = board.chess960 ? make_square(board.castling_rook[right], rank)
                                  : make_square(parts.castling == 1 ? 6 : 2, rank);
        parts.from_file = king != NO_SQUARE ? file_of(king) : 4;
        parts.from_rank = rank;
    }
    if (parts.coordinates) {
        const Square from = make_square(parts.from_file, parts.from_rank);
        if (board.colour[static_cast<std::size_t>(from)] == board.side)
            parts.piece = board.piece[static_cast<std::size_t>(from)];
    }
    const MoveList candidates = legal_moves_to(board, parts.piece, parts.to);
    SanResolution found{{}, SanProblem::NO_SUCH_MOVE, {}};
    for (const Move move : candidates) {
        if ((parts.from_file >= 0 && file_of(move.from) != parts.from_file) ||
            (parts.from_rank >= 0 && rank_of(move.from) != parts.from_rank) ||
            move.promotion != parts.promotion)
            continue;
        // Castling is named by its word, or in coordinates as UCI writes
        // it: Kg1 is no castling.
        const bool castles = is_castling(board, move);
        if (castles ? parts.castling == 0 && !parts.coordinates : parts.castling != 0)
            continue;
        if (found.problem == SanProblem::NONE)
            return {{}, SanProblem::AMBIGUOUS, {}};
        found = {move, SanProblem::NONE, {}};
    }
    if (found.problem == SanProblem::NONE)
        found.san = san_among(board, found.move, candidates);
    return found;
}

std::string san_of(const Board& board, Move move) {
    if (is_null(move))
        return "--";
    const Piece piece = board.piece[static_cast<std::size_t>(move.from)];
    return san_among(board, move, piece == PAWN ? MoveList{} : legal_moves_to(board, piece, move.to));
}

Variant variant_named(std::string_view tag) {
    std::string name;
    for (const char c : tag)
        name += static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
    if (name.empty() || name == "?" || name == "standard" || name == "chess" || name == "from position")
        return Variant::STANDARD;
    if (name == "chess960" || name == "chess 960" || name == "fischerandom" || name == "fischer random")
        return Variant::CHESS960;
    return Variant::OTHER;
}

std::string san_or_text(const Board& board, std::string_view text) {
    SanResolution found = resolve_san(board, text);
    return found.problem == SanProblem::NONE ? std::move(found.san) : std::string(text);
}

} // namespace tavrik

// A game read as PGN, played with full legality into a MoveTable.
#include "pgn/pgn.h"
#include "position/position.h"
#include "record/record.h"

namespace tavrik {

namespace {

// Appends "12" for white's move 12, "12..." for black's.
void add_move_number(std::string& text, std::int64_t fullmove, Colour side) {
    text += std::to_string(fullmove);
    if (side == BLACK)
        text += "...";
}

// Keeps what the file says of the move about to join the table, once any
// move of the game has something said of it.
void add_note(const PgnGame& game, MoveTable& table) {
    const auto k = static_cast<std::size_t>(table.count());
    const PgnMove& move = game.moves[k];
    if (table.notes.empty() && move.nags.empty() && move.comment.empty() && move.variations.empty())
        return;
    table.notes.resize(k + 1);
    MoveNote& note = table.notes[k];
    add_marks(note.marks, move.nags);
    note.comment = move.comment;
    for (const std::size_t variation : move.variations)
        note.variations.push_back(variation_text(game.variations, variation, table.end()));
}

} // namespace

bool play_pgn_game(const PgnGame& game, Board& start, MoveTable& table, std::string& fault) {
    fault.clear();
    table.half_moves.clear();
    table.invalid_texts.clear();
    table.san.clear();
    table.given.clear();
    table.notes.clear();
    table.comment = game.comment;
    table.first = 1;

    const std::string_view variant = tag_value(game, "Variant");
    const Variant rules = variant_named(variant);
    if (rules == Variant::OTHER) {
        setup_board(start); // a start of some position all the same, for the caller
        fault = "the variant ";
        add_printable_excerpt(fault, variant);
        fault += " is not played";
        return false;
    }
    const std::string_view fen = tag_value(game, "FEN");
    // Many files give a FEN without SetUp "1"; only SetUp "0" disowns it.
    if (game.tags.empty() || tag_value(game, "SetUp") == "0" ||
        (fen == "?" && tag_value(game, "SetUp") != "1")) {
        setup_board(start);
        start.chess960 = rules == Variant::CHESS960;
    } else if (!board_from_fen(fen == "?" ? "" : fen, start, fault, rules == Variant::CHESS960)) {
        if (fen == "?")
            fault = "SetUp \"1\" without a FEN tag";
        return false;
    }
    table.first = 2 * start.fullmove - (start.side == WHITE ? 1 : 0);

    Board board = start;
    Clocks clocks = clocks_at_start(parse_time_control(tag_value(game, "TimeControl")));
    table.half_moves.reserve(game.moves.size());
    table.san.reserve(game.moves.size());
    table.given.reserve(game.moves.size());
    for (const PgnMove& pgn_move : game.moves) {
        const SanResolution found = resolve_san(board, pgn_move.text);
        if (found.problem != SanProblem::NONE) {
            fault.reserve(96); // the whole message, without growing
            fault += "move ";
            add_move_number(fault, board.fullmove, board.side);
            fault += ' ';
            add_printable_excerpt(fault, pgn_move.text);
            fault += ": ";
            fault += san_problem_text(found.problem);
            return false;
        }
        HalfMove half_move;
        half_move.move = code_of(found.move);
        half_move.flags = flags_of(board, found.move);
        table.given.push_back(fill_numbers(pgn_move.values, board.side, clocks, half_move));
        add_note(game, table);
        table.half_moves.push_back(half_move);
        table.san.push_back(found.san);
        play_move(board, found.move);
    }
    if (!game.damage.empty()) {
        fault.reserve(game.damage.size() + 64); // the whole message, without growing
        fault += game.damage;
        if (game.moves.empty()) {
            fault += " before the first move";
            return false;
        }
        // The last half-move's index gives its number: white's move m is 2m - 1.
        const std::int64_t last = table.end() - 1;
        fault += " after move ";
        add_move_number(fault, (last + 1) / 2, last % 2 == 1 ? WHITE : BLACK);
        fault += ' ';
        fault += table.san.back();
        return false;
    }
    return true;
}

} // namespace tavrik

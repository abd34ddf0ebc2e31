// A game read as PGN, played with full legality into a MoveTable.
#include "pgn/pgn.h"
#include "position/position.h"
#include "record/record.h"

namespace tavrik {

namespace {

// "12" for white's move 12, "12..." for black's.
std::string move_number_text(const Board& board) {
    return std::to_string(board.fullmove) + (board.side == BLACK ? "..." : "");
}

} // namespace

std::string play_pgn_game(const PgnGame& game, Board& start, MoveTable& table) {
    table.half_moves.clear();
    table.invalid_texts.clear();
    table.san.clear();
    table.first = 1;

    const std::string fen = tag_value(game, "FEN");
    // Many files give a FEN without SetUp "1"; only SetUp "0" disowns it.
    if (game.tags.empty() || tag_value(game, "SetUp") == "0" ||
        (fen == "?" && tag_value(game, "SetUp") != "1")) {
        setup_board(start);
    } else if (std::string why; !board_from_fen(fen == "?" ? "" : fen, start, why)) {
        return fen == "?" ? "SetUp \"1\" without a FEN tag" : why;
    }
    table.first = 2 * start.fullmove - (start.side == WHITE ? 1 : 0);

    Board board = start;
    Clocks clocks = clocks_at_start(parse_time_control(tag_value(game, "TimeControl")));
    table.half_moves.reserve(game.moves.size());
    table.san.reserve(game.moves.size());
    std::string last_move; // "12... Nf6"
    for (const PgnMove& pgn_move : game.moves) {
        const SanResolution found = resolve_san(board, pgn_move.text);
        if (found.problem != SanProblem::NONE)
            return "move " + move_number_text(board) + " " + printable_excerpt(pgn_move.text) +
                   ": " + san_problem_text(found.problem);
        HalfMove half_move;
        half_move.move = code_of(found.move);
        half_move.flags = flags_of(found.move);
        fill_numbers(pgn_move.values, board.side, clocks, half_move);
        table.half_moves.push_back(half_move);
        table.san.push_back(found.san);
        if (!game.damage.empty())
            last_move = move_number_text(board) + " " + table.san.back();
        play_move(board, found.move);
    }
    if (!game.damage.empty()) {
        if (game.moves.empty())
            return game.damage + " before the first move";
        return game.damage + " after move " + last_move;
    }
    return {};
}

} // namespace tavrik

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "position/position.h"
#include "record/record.h"
#include "sheet/sheet.h"
#include "support.h"

namespace tavrik {
namespace {

Square square(const char* name) { return make_square(name[0] - 'a', name[1] - '1'); }

Piece piece_at(const Board& board, const char* name) {
    return board.piece[static_cast<std::size_t>(square(name))];
}

Colour colour_at(const Board& board, const char* name) {
    return board.colour[static_cast<std::size_t>(square(name))];
}

// Half-moves given as move text, white's first.
MoveTable table_of(const std::vector<std::string>& texts) {
    MoveTable table;
    for (std::size_t k = 0; k < texts.size(); ++k) {
        const DecodedMove decoded = decode_move_text(texts[k], k % 2 == 0 ? WHITE : BLACK);
        table.half_moves.push_back(HalfMove{decoded.move, decoded.flags});
        if (decoded.flags & INVALID_BIT)
            add_invalid_text(table.invalid_texts, table.count(), texts[k]);
    }
    return table;
}

// Replays half-moves from..to of the table and returns the lines its
// findings give on the sheet.
std::string replay(Board& board, const MoveTable& table, std::int64_t from, std::int64_t to) {
    const test::Capture capture;
    Output out(capture.file());
    for (std::int64_t i = from; i <= to; ++i)
        write_findings(replay_half_move(board, table, i), table, i, out);
    EXPECT_TRUE(flush_output(out));
    return capture.text();
}

// The position after replaying every half-move of the texts from the start.
struct Replayed {
    Board board;
    std::string messages;
};

Replayed replay_game(const std::vector<std::string>& texts) {
    Replayed result;
    setup_board(result.board);
    const MoveTable table = table_of(texts);
    result.messages = replay(result.board, table, 1, table.count());
    return result;
}

void expect_invariant(const Board& board) {
    for (std::size_t s = 0; s < SQUARE_COUNT; ++s) {
        SCOPED_TRACE(s);
        EXPECT_LE(board.piece[s], KING);
        EXPECT_LE(board.colour[s], NO_COLOUR);
        EXPECT_EQ(board.piece[s] == EMPTY, board.colour[s] == NO_COLOUR);
        const char letter = board.letters[letter_index(static_cast<Square>(s))];
        EXPECT_EQ(letter, (board.colour[s] == BLACK ? " pnbrqk" : " PNBRQK")[board.piece[s]]);
    }
    // The kept king square names a king of its colour, or none.
    for (const Colour colour : {WHITE, BLACK}) {
        const Square king = board.king[colour];
        if (king != NO_SQUARE) {
            EXPECT_EQ(board.piece[static_cast<std::size_t>(king)], KING) << colour;
            EXPECT_EQ(board.colour[static_cast<std::size_t>(king)], colour);
        }
    }
}

TEST(Board, KeepsEachKingsSquareThroughMovesAndCaptures) {
    Board board;
    setup_board(board);
    EXPECT_EQ(king_square(board, WHITE), make_square(4, 0));
    EXPECT_EQ(king_square(board, BLACK), make_square(4, 7));
    put_piece(board, make_square(4, 1), KING, WHITE);
    clear_square(board, make_square(4, 0));
    EXPECT_EQ(king_square(board, WHITE), make_square(4, 1));
    // Taken by a piece of either colour, or cleared: no king any more.
    put_piece(board, make_square(4, 1), QUEEN, BLACK);
    EXPECT_EQ(king_square(board, WHITE), NO_SQUARE);
    clear_square(board, make_square(4, 7));
    EXPECT_EQ(king_square(board, BLACK), NO_SQUARE);
    EXPECT_EQ(king_square(board, WHITE), NO_SQUARE);
}

TEST(SetupBoard, PutsThePiecesOnTheirStartingSquares) {
    Board board;
    board.side = BLACK;
    setup_board(board);
    EXPECT_EQ(board.side, WHITE);
    EXPECT_EQ(board.opponent, BLACK);
    const Piece back[] = {ROOK, KNIGHT, BISHOP, QUEEN, KING, BISHOP, KNIGHT, ROOK};
    for (int file = 0; file < 8; ++file) {
        const auto f = static_cast<std::size_t>(file);
        EXPECT_EQ(board.piece[f], back[f]);
        EXPECT_EQ(board.piece[f + 56], back[f]);
        EXPECT_EQ(board.piece[f + 8], PAWN);
        EXPECT_EQ(board.piece[f + 48], PAWN);
        EXPECT_EQ(board.colour[f], WHITE);
        EXPECT_EQ(board.colour[f + 8], WHITE);
        EXPECT_EQ(board.colour[f + 48], BLACK);
        EXPECT_EQ(board.colour[f + 56], BLACK);
        for (int rank = 2; rank < 6; ++rank)
            EXPECT_EQ(board.piece[static_cast<std::size_t>(make_square(file, rank))], EMPTY);
    }
    expect_invariant(board);
}

// A file of many games sets up each of them over the last one's end.
TEST(SetupBoard, SetsUpTheStartOverAnyPositionAgainAndAgain) {
    Board fresh;
    setup_board(fresh);
    for (int game = 0; game < 2; ++game) {
        SCOPED_TRACE(game);
        Replayed played = replay_game({"e2e4", "d7d5", "e4d5", "e8d7", "e1e2", "d8d5"});
        ASSERT_EQ(played.messages, "");
        Board& board = played.board;
        board.castling = 0;
        board.en_passant = square("d6");
        board.fullmove = 40;
        board.king[WHITE] = NO_SQUARE;
        setup_board(board);
        EXPECT_EQ(fen_of(board), "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1");
        EXPECT_EQ(board.king[WHITE], square("e1"));
        EXPECT_EQ(board.king[BLACK], square("e8"));
        EXPECT_EQ(board.letters, fresh.letters);
        expect_invariant(board);
    }
}

TEST(ReplayHalfMove, PlainMoveMovesThePieceAndPassesTheTurn) {
    const Replayed r = replay_game({"e2e4"});
    EXPECT_EQ(r.messages, "");
    EXPECT_EQ(piece_at(r.board, "e4"), PAWN);
    EXPECT_EQ(colour_at(r.board, "e4"), WHITE);
    EXPECT_EQ(piece_at(r.board, "e2"), EMPTY);
    EXPECT_EQ(colour_at(r.board, "e2"), NO_COLOUR);
    EXPECT_EQ(r.board.side, BLACK);
    EXPECT_EQ(r.board.opponent, WHITE);
}

TEST(ReplayHalfMove, CaptureReplacesTheOpponentsPieceSilently) {
    const Replayed r = replay_game({"e2e4", "d7d5", "e4d5"});
    EXPECT_EQ(r.messages, "");
    EXPECT_EQ(piece_at(r.board, "d5"), PAWN);
    EXPECT_EQ(colour_at(r.board, "d5"), WHITE);
}

TEST(ReplayHalfMove, EnPassantTakesThePawnBeside) {
    const Replayed white = replay_game({"e2e4", "a7a6", "e4e5", "d7d5", "e5d6"});
    EXPECT_EQ(white.messages, "");
    EXPECT_EQ(piece_at(white.board, "d5"), EMPTY);
    EXPECT_EQ(colour_at(white.board, "d5"), NO_COLOUR);
    EXPECT_EQ(piece_at(white.board, "d6"), PAWN);
    EXPECT_EQ(colour_at(white.board, "d6"), WHITE);

    const Replayed black = replay_game({"a2a3", "d7d5", "a3a4", "d5d4", "e2e4", "d4e3"});
    EXPECT_EQ(black.messages, "");
    EXPECT_EQ(piece_at(black.board, "e4"), EMPTY);
    EXPECT_EQ(piece_at(black.board, "e3"), PAWN);
    EXPECT_EQ(colour_at(black.board, "e3"), BLACK);
}

TEST(ReplayHalfMove, DiagonalPawnStepOnOtherRanksTakesNothing) {
    // From the fourth rank to the fifth: the black pawn behind the target
    // stays, where a step from the fifth to the sixth would take it.
    const Replayed r = replay_game({"e2e4", "d7d5", "a2a3", "d5d4", "e4d5"});
    EXPECT_EQ(piece_at(r.board, "d5"), PAWN);
    EXPECT_EQ(colour_at(r.board, "d5"), WHITE);
    EXPECT_EQ(piece_at(r.board, "d4"), PAWN);
    EXPECT_EQ(colour_at(r.board, "d4"), BLACK);
}

TEST(ReplayHalfMove, EnPassantNeedsAnOpponentPawnOnTheVictimSquare) {
    // A white knight, not a pawn, stands beside: it stays.
    const Replayed r = replay_game({"e2e4", "a7a6", "e4e5", "a6a5", "b1c3", "a5a4", "c3d5", "b7b6",
                                    "e5d6"});
    EXPECT_EQ(piece_at(r.board, "d5"), KNIGHT);
    EXPECT_EQ(colour_at(r.board, "d5"), WHITE);
}

TEST(ReplayHalfMove, CastlingMovesTheRookToo) {
    Replayed black = replay_game({"e2e4", "e7e5", "g1f3", "g8f6", "f1c4", "f8c5", "d2d3", "o-o"});
    EXPECT_EQ(black.messages, "");
    EXPECT_EQ(piece_at(black.board, "g8"), KING);
    EXPECT_EQ(piece_at(black.board, "f8"), ROOK);
    EXPECT_EQ(colour_at(black.board, "f8"), BLACK);
    EXPECT_EQ(piece_at(black.board, "h8"), EMPTY);
    EXPECT_EQ(piece_at(black.board, "e8"), EMPTY);

    Replayed white = replay_game({"d2d4", "d7d5", "b1c3", "b8c6", "c1f4", "c8f5", "d1d2", "d8d7", "o-o-o"});
    EXPECT_EQ(white.messages, "");
    EXPECT_EQ(piece_at(white.board, "c1"), KING);
    EXPECT_EQ(piece_at(white.board, "d1"), ROOK);
    EXPECT_EQ(colour_at(white.board, "d1"), WHITE);
    EXPECT_EQ(piece_at(white.board, "a1"), EMPTY);
    expect_invariant(white.board);
}

TEST(ReplayHalfMove, KingMoveWrittenAsCoordinatesCastlesAlike) {
    const Replayed r = replay_game({"e2e4", "e7e5", "g1f3", "g8f6", "f1c4", "f8c5", "e1g1"});
    EXPECT_EQ(piece_at(r.board, "g1"), KING);
    EXPECT_EQ(piece_at(r.board, "f1"), ROOK);
    EXPECT_EQ(piece_at(r.board, "h1"), EMPTY);
}

TEST(ReplayHalfMove, CastlingCodeOfANonKingMovesNoRook) {
    // A rook, not a king, goes e1 to g1 after the king has left e1.
    const Replayed r = replay_game({"e2e4", "e7e5", "e1e2", "a7a6", "h1h2", "a6a5", "a1e1", "a5a4",
                                    "e1g1"});
    EXPECT_EQ(piece_at(r.board, "g1"), ROOK);
    EXPECT_EQ(piece_at(r.board, "f1"), BISHOP);
}

TEST(ReplayHalfMove, PromotionChangesThePieceAndKeepsItsColour) {
    // The white h-pawn eats its way up to g8. An upper-case letter is no
    // promotion letter: the pawn arrives unpromoted.
    const std::pair<const char*, Piece> cases[] = {
        {"h7g8q", QUEEN}, {"h7g8n", KNIGHT}, {"h7g8r", ROOK}, {"h7g8Q", PAWN}};
    for (const auto& [text, piece] : cases) {
        SCOPED_TRACE(text);
        const Replayed r = replay_game({"h2h4", "g7g5", "h4g5", "h7h6", "g5h6", "a7a6", "h6h7",
                                        "a6a5", text});
        EXPECT_EQ(r.messages, "");
        EXPECT_EQ(piece_at(r.board, "g8"), piece);
        EXPECT_EQ(colour_at(r.board, "g8"), WHITE);
    }
}

TEST(ReplayHalfMove, NothingIsPromotedOutOfAnEmptySquare) {
    const Replayed r = replay_game({"e4e5q"});
    EXPECT_EQ(r.messages, "Illegal move + 1 e4e5 \n");
    EXPECT_EQ(piece_at(r.board, "e5"), EMPTY);
    expect_invariant(r.board);
}

TEST(ReplayHalfMove, TargetHoldingOwnPieceIsReportedThenReplaced) {
    const Replayed r = replay_game({"e2e4", "e7e5", "d1d2"});
    EXPECT_EQ(r.messages, "Illegal move - 3 d1d2 \n");
    EXPECT_EQ(piece_at(r.board, "d2"), QUEEN);
    EXPECT_EQ(colour_at(r.board, "d2"), WHITE);
    EXPECT_EQ(piece_at(r.board, "d1"), EMPTY);
}

TEST(ReplayHalfMove, MoveFromEmptySquareIsReportedAndEmptiesTheTarget) {
    const Replayed r = replay_game({"e2e4", "e7e5", "e3d4", "d7d5", "e3d5"});
    EXPECT_EQ(r.messages, "Illegal move + 3 e3d4 \nIllegal move + 5 e3d5 \n");
    EXPECT_EQ(piece_at(r.board, "d4"), EMPTY);
    EXPECT_EQ(piece_at(r.board, "d5"), EMPTY);
    EXPECT_EQ(colour_at(r.board, "d5"), NO_COLOUR);
    expect_invariant(r.board);
}

TEST(ReplayHalfMove, MoveOfTheWrongSideIsReportedAppliedAndTheTurnPasses) {
    Board board;
    setup_board(board);
    const MoveTable table = table_of({"e7e5"});
    EXPECT_EQ(replay(board, table, 1, 1), "Illegal move + 1 e7e5 \n");
    EXPECT_EQ(piece_at(board, "e5"), PAWN);
    EXPECT_EQ(colour_at(board, "e5"), BLACK);
    EXPECT_EQ(board.side, BLACK);
}

TEST(ReplayHalfMove, BothTestsCanFireTargetTestFirst) {
    // Played by white: a black pawn onto a white pawn.
    const Replayed r = replay_game({"d7d2"});
    EXPECT_EQ(r.messages, "Illegal move - 1 d7d2 \nIllegal move + 1 d7d2 \n");
}

TEST(ReplayHalfMove, MoveToTheSameSquareLeavesTheBoardAsItWas) {
    Board before;
    setup_board(before);
    const Replayed own = replay_game({"e2e2"});
    EXPECT_EQ(own.messages, "Illegal move - 1  \n");
    EXPECT_EQ(own.board.piece, before.piece);
    EXPECT_EQ(own.board.colour, before.colour);
    EXPECT_EQ(own.board.side, BLACK);

    const Replayed empty = replay_game({"e4e4q"});
    EXPECT_EQ(empty.messages, "Illegal move + 1  \n");
    EXPECT_EQ(empty.board.piece, before.piece);
}

TEST(ReplayHalfMove, InvalidMoveTextIsReportedNotAppliedAndTheTurnPasses) {
    Board before;
    setup_board(before);
    const Replayed r = replay_game({"Nf3", "e7e5"});
    EXPECT_EQ(r.messages, "Illegal move ? 1 Nf3 \n");
    EXPECT_EQ(r.board.side, WHITE);
    EXPECT_EQ(piece_at(r.board, "g1"), KNIGHT);
    EXPECT_EQ(piece_at(r.board, "e5"), PAWN);
    EXPECT_EQ(colour_at(r.board, "e5"), BLACK);
}

TEST(ReplayHalfMove, InvalidTextIsMadePrintableInTheMessage) {
    const Replayed r = replay_game({std::string("N\x01\xff", 3)});
    EXPECT_EQ(r.messages, "Illegal move ? 1 N?? \n");
}

TEST(ReplayHalfMove, BoardKeepsItsInvariantThroughAnyMoves) {
    // Every from-to pair across the board, legal or not.
    Board board;
    setup_board(board);
    std::vector<std::string> texts;
    for (Square from = 0; from < SQUARE_COUNT; from += 3)
        for (Square to = 0; to < SQUARE_COUNT; to += 5)
            texts.push_back(format_move(from, to) + (to % 2 == 0 ? "q" : ""));
    texts.emplace_back("o-o");
    texts.emplace_back("o-o-o");
    const MoveTable table = table_of(texts);
    for (std::int64_t i = 1; i <= table.count(); ++i) {
        replay_half_move(board, table, i);
        expect_invariant(board);
        if (HasFailure())
            break;
    }
}

} // namespace
} // namespace tavrik

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "position/position.h"
#include "record/record.h"
#include "sheet/sheet.h"
#include "support.h"

namespace tavrik {
namespace {

using test::lines_of;

// Sheet output, read back as text.
struct Capture {
    test::Capture capture;
    Output output{capture.file()};

    std::string text() {
        EXPECT_TRUE(flush_output(output));
        return capture.text();
    }
};

const char* const START_BOARD =
    "C ('#[rnbqkbnr;pppppppp;        ;        ;        ;        ;PPPPPPPP;RNBQKBNR;]') show";

// A table of n knight moves back and forth with score 100 + i, time i.
MoveTable shuffle_table(int n) {
    MoveTable table;
    const char* texts[] = {"g1f3", "g8f6", "f3g1", "f6g8"};
    for (int i = 1; i <= n; ++i) {
        HalfMove half_move;
        half_move.move = decode_move_text(texts[(i - 1) % 4], WHITE).move;
        half_move.score = 100 + i;
        half_move.time = i;
        table.half_moves.push_back(half_move);
    }
    return table;
}

// The lines of n diagrams drawn on the start position.
std::vector<std::string> diagram_lines(int n) {
    const MoveTable table = shuffle_table(n);
    Board board;
    setup_board(board);
    PageState page;
    Capture out;
    begin_sheet(out.output);
    for (int i = 1; i <= n; ++i)
        write_diagram(page, board, table, i, out.output);
    end_sheet(page, out.output);
    return lines_of(out.text());
}

TEST(BoardText, HasALetterPerPieceAndASemicolonPerRankFromTheEighth) {
    Board board;
    setup_board(board);
    const std::string text = board_text(board);
    EXPECT_EQ(text, START_BOARD);
    EXPECT_EQ(text.size(), 86U);
}

TEST(BoardText, ShowsEveryPieceInBothColours) {
    Board board;
    setup_board(board);
    put_piece(board, 0, PAWN, WHITE);   // a1
    put_piece(board, 63, QUEEN, BLACK); // h8
    put_piece(board, 28, KING, BLACK);  // e4
    EXPECT_EQ(board_text(board),
              "C ('#[rnbqkbnq;pppppppp;        ;        ;    k   ;        ;PPPPPPPP;PNBQKBNR;]') show");
}

TEST(Output, FormatsNumbersAcrossTheSixtyFourBitRange) {
    Capture out;
    for (const std::int64_t n : {std::int64_t{0}, std::int64_t{-7}, std::int64_t{1234567890},
                                 std::numeric_limits<std::int64_t>::max(),
                                 std::numeric_limits<std::int64_t>::min()}) {
        put_number(out.output, n);
        put_text(out.output, " ");
    }
    EXPECT_EQ(out.text(), "0 -7 1234567890 9223372036854775807 -9223372036854775808 ");
}

TEST(Output, KeepsTheOrderOfTextsAroundAndBeyondTheBufferSize) {
    // A text that fills the buffer exactly, one that overflows it, and one
    // longer than the whole buffer, each between short ones.
    const std::string exact(OUTPUT_BUFFER_SIZE - 1, 'a');
    const std::string over(OUTPUT_BUFFER_SIZE - 10, 'b');
    const std::string huge(OUTPUT_BUFFER_SIZE * 2 + 3, 'c');
    Capture out;
    for (const std::string* text : {&exact, &over, &huge}) {
        put_text(out.output, "<");
        put_text(out.output, *text);
        put_text(out.output, ">");
    }
    EXPECT_EQ(out.text(), "<" + exact + "><" + over + "><" + huge + ">");
}

TEST(Output, RemembersTheFirstFailedWriteAndItsError) {
    std::FILE* full = std::fopen("/dev/full", "w");
    ASSERT_NE(full, nullptr);
    std::setvbuf(full, nullptr, _IONBF, 0);
    Output output(full);
    put_text(output, std::string(OUTPUT_BUFFER_SIZE + 1, 'x'));
    EXPECT_TRUE(output.failed);
    put_text(output, "more");
    EXPECT_FALSE(flush_output(output));
    EXPECT_EQ(output.error, ENOSPC);
    std::fclose(full);
}

TEST(Output, KeptInMemoryPassesOnInOrderAndEmpties) {
    Output kept(nullptr);
    const std::string over(OUTPUT_BUFFER_SIZE + 5, 'o');
    put_text(kept, "<");
    put_text(kept, over); // drains "<" and spills the rest
    put_text(kept, ">");
    EXPECT_EQ(kept.spilled.size(), 1 + over.size());
    Capture out;
    put_text(out.output, "before ");
    put_kept_output(out.output, kept);
    EXPECT_TRUE(kept.spilled.empty());
    EXPECT_EQ(kept.used, 0U);
    put_text(kept, "again");
    put_kept_output(out.output, kept);
    put_text(out.output, " after");
    EXPECT_EQ(out.text(), "before <" + over + ">again after");
}

TEST(Output, KeptOutputPassedOnToAFailedStreamKeepsTheFailure) {
    std::FILE* full = std::fopen("/dev/full", "w");
    ASSERT_NE(full, nullptr);
    std::setvbuf(full, nullptr, _IONBF, 0);
    Output output(full);
    Output kept(nullptr);
    put_text(output, "x");
    put_text(kept, "kept");
    put_kept_output(output, kept);
    EXPECT_TRUE(output.failed);
    EXPECT_FALSE(flush_output(output));
    EXPECT_EQ(output.error, ENOSPC);
    std::fclose(full);
}

TEST(PostscriptEscaped, EscapesParenthesesAndBackslashes) {
    EXPECT_EQ(postscript_escaped("e2e4"), "e2e4");
    EXPECT_EQ(postscript_escaped("(a)\\b"), "\\(a\\)\\\\b");
}

TEST(BeginSheet, WritesTheOpeningLineOnly) {
    Capture out;
    begin_sheet(out.output);
    EXPECT_EQ(out.text(), "/V 11 72 mul def /L 60 def\n");
}

TEST(EndSheet, WritesShowpageOnlyAfterADiagram) {
    EXPECT_EQ(diagram_lines(0), std::vector<std::string>{"/V 11 72 mul def /L 60 def"});
    EXPECT_EQ(diagram_lines(1).back(), "showpage");
}

TEST(WriteDiagram, WritesPositioningCaptionAndBoard) {
    const std::vector<std::string> lines = diagram_lines(2);
    const std::vector<std::string> expected = {
        "/V 11 72 mul def /L 60 def",
        "L V moveto",
        "R (1 g1f3 score 101 time 1) show",
        "L  V 100 sub moveto",
        START_BOARD,
        "/L 160 L add def",
        "L V moveto",
        "R (1  ... g8f6 score 102 time 2) show",
        "L  V 100 sub moveto",
        START_BOARD,
        "/L 160 L add def",
        "showpage",
    };
    EXPECT_EQ(lines, expected);
}

TEST(WriteDiagram, EveryThirdDiagramEndsTheRow) {
    const std::vector<std::string> lines = diagram_lines(7);
    std::vector<std::string> steps;
    for (const std::string& line : lines)
        if (line.rfind("/L 160", 0) == 0 || line.rfind("/V V", 0) == 0)
            steps.push_back(line);
    const std::string next = "/L 160 L add def";
    const std::string row = "/V V 120 sub def /L 60 def";
    EXPECT_EQ(steps, (std::vector<std::string>{next, next, row, next, next, row, next}));
}

TEST(WriteDiagram, EighteenDiagramsFillOnePage) {
    const std::vector<std::string> lines = diagram_lines(18);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "showpage"), 1);
    EXPECT_EQ(lines.back(), "showpage");
    EXPECT_EQ(lines[lines.size() - 2], "/V V 120 sub def /L 60 def");
}

TEST(WriteDiagram, NineteenthDiagramStartsANewPage) {
    const std::vector<std::string> lines = diagram_lines(19);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "showpage"), 2);
    // Opening line, 18 diagrams of 5 lines, then the page change.
    ASSERT_GT(lines.size(), 1U + 18 * 5 + 3);
    EXPECT_EQ(lines[1 + 18 * 5], "showpage");
    EXPECT_EQ(lines[2 + 18 * 5], "/V 11 72 mul def");
    EXPECT_EQ(lines[3 + 18 * 5], "/L 60 def");
    EXPECT_EQ(lines[4 + 18 * 5], "L V moveto");
    EXPECT_EQ(lines[5 + 18 * 5], "R (10 f3g1 score 119 time 19) show");
    EXPECT_EQ(lines.back(), "showpage");
}

TEST(WriteDiagram, PageChangeRestartsTheRow) {
    // Diagrams 19 and 20 are the first two of the new page's first row.
    const std::vector<std::string> lines = diagram_lines(21);
    const std::ptrdiff_t last_row = std::ptrdiff_t{BOARDS_PER_ROW} * 5;
    const std::vector<std::string> tail(lines.end() - 1 - last_row, lines.end() - 1);
    EXPECT_EQ(tail[4], "/L 160 L add def");
    EXPECT_EQ(tail[9], "/L 160 L add def");
    EXPECT_EQ(tail[14], "/V V 120 sub def /L 60 def");
}

TEST(WriteDiagram, MoveToTheSameSquareLeavesTheMoveTextEmpty) {
    MoveTable table;
    table.half_moves.push_back(HalfMove{make_move(12, 12), 0, 5, 0, 0, 9});
    table.half_moves.push_back(HalfMove{make_move(52, 52), 0, 6, 0, 0, 8});
    Board board;
    setup_board(board);
    PageState page;
    Capture out;
    write_diagram(page, board, table, 1, out.output);
    write_diagram(page, board, table, 2, out.output);
    const std::vector<std::string> lines = lines_of(out.text());
    EXPECT_EQ(lines[1], "R (1  score 5 time 9) show");
    EXPECT_EQ(lines[6], "R (1  ...  score 6 time 8) show");
}

TEST(WriteDiagram, NumbersOfEveryWidthAreWrittenInDecimal) {
    const std::int64_t numbers[] = {0, 7, 10, 99, 100, 999, 1000, 4096, 9999, 10000, 10001, 10100,
                                    99999, 100000, 123456, 1000000, 1234567, 9999999, 10000000,
                                    12005009, 99999999, 100000000, 123456789,
                                    -1, -9, -10, -99, -100, -999, -1000, -9999, -10000, -12345,
                                    -99999999, -100000000, INT64_MAX, INT64_MIN};
    MoveTable table;
    for (const std::int64_t n : numbers)
        table.half_moves.push_back(HalfMove{make_move(12, 28), 0, n, 0, 0, n / 2});
    Board board;
    setup_board(board);
    PageState page;
    Capture out;
    for (std::int64_t i = 1; i <= table.count(); ++i)
        write_diagram(page, board, table, i, out.output);
    std::vector<std::string> lines;
    for (const std::string& line : lines_of(out.text())) {
        if (line.starts_with("R ("))
            lines.push_back(line);
    }
    ASSERT_EQ(lines.size(), std::size(numbers));
    for (std::size_t k = 0; k < std::size(numbers); ++k) {
        const std::int64_t i = static_cast<std::int64_t>(k) + 1;
        const std::string caption = "R (" + std::to_string((i + 1) / 2) + (i % 2 == 1 ? " " : "  ... ") +
                                    "e2e4 score " + std::to_string(numbers[k]) + " time " +
                                    std::to_string(numbers[k] / 2) + ") show";
        EXPECT_EQ(lines[k], caption);
    }
}

TEST(WriteDiagram, InvalidMoveTextIsShownSafelyInsideTheString) {
    MoveTable table;
    table.half_moves.push_back(HalfMove{0, INVALID_BIT, -40000, 0, 0, 5000000000});
    table.invalid_texts.push_back({1, std::string("N(f3)\\\n\x90", 8)});
    Board board;
    setup_board(board);
    PageState page;
    Capture out;
    write_diagram(page, board, table, 1, out.output);
    EXPECT_EQ(lines_of(out.text())[1], "R (1 N\\(f3\\)\\\\?? score -40000 time 5000000000) show");
}

} // namespace
} // namespace tavrik

#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "run/run.h"
#include "support.h"

namespace tavrik {
namespace {

using test::lines_of;
using test::read_file;
using test::record_text;
using test::run_in_process;

constexpr std::int64_t MAX = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t MIN = std::numeric_limits<std::int64_t>::min();

const std::string OPENING = "/V 11 72 mul def /L 60 def\n";

const std::vector<std::string> THREE_MOVES = {"e2e4 1 0 0 11 e7e5 2 0 0 12",
                                              "g1f3 3 0 0 13 b8c6 4 0 0 14",
                                              "f1b5 5 0 0 15 a7a6 6 0 0 16"};

// The captions of a sheet, in order.
std::vector<std::string> captions(const std::string& sheet) {
    std::vector<std::string> found;
    for (const std::string& line : lines_of(sheet))
        if (line.rfind("R (", 0) == 0)
            found.push_back(line);
    return found;
}

// The times in the captions, which THREE_MOVES sets to 10 + index.
std::vector<int> drawn_indexes(const std::string& sheet) {
    std::vector<int> indexes;
    for (const std::string& caption : captions(sheet))
        indexes.push_back(std::stoi(caption.substr(caption.find("time ") + 5)) - 10);
    return indexes;
}

TEST(IndexOfMove, GivesWhitesHalfMoveOfTheMove) {
    EXPECT_EQ(index_of_move(1), 1);
    EXPECT_EQ(index_of_move(2), 3);
    EXPECT_EQ(index_of_move(100), 199);
}

TEST(IndexOfMove, NeverOverflows) {
    EXPECT_EQ(index_of_move(0), 0);
    EXPECT_EQ(index_of_move(-7), 0);
    EXPECT_EQ(index_of_move(MIN), 0);
    EXPECT_EQ(index_of_move(MAX), MAX);
    EXPECT_EQ(index_of_move(MAX / 2), MAX - 2);
    EXPECT_EQ(index_of_move(MAX / 2 + 1), MAX);
}

TEST(HalfMoveRange, FollowsTheMoveNumbersAndFallsBackOutsideTheRecord) {
    struct Case {
        std::optional<std::int64_t> start, end;
        std::int64_t count, want_start, want_end;
    };
    const Case cases[] = {
        {{}, {}, 6, 1, 7},      // everything, the last half-move included
        {2, 3, 6, 3, 5},        // white's and black's move 2
        {2, {}, 6, 3, 7},
        {0, {}, 6, 1, 7},       {-3, {}, 6, 1, 7},  {4, {}, 6, 1, 7},
        {MAX, {}, 6, 1, 7},     {MIN, {}, 6, 1, 7},
        {1, 0, 6, 1, 7},        {1, -1, 6, 1, 7},   {1, 4, 6, 1, 7},
        {1, MAX, 6, 1, 7},      {1, MIN, 6, 1, 7},
        {1, 1, 6, 1, 1},        // replays nothing
        {3, 2, 6, 5, 3},        // replays, draws nothing
        {{}, 3, 5, 1, 5},       // an end at the last half-move stays exclusive
        {{}, {}, 0, 1, 1},      {5, 5, 0, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "start " << c.start.value_or(-999) << " end "
                                        << c.end.value_or(-999) << " count " << c.count);
        const HalfMoveRange range = half_move_range(RangeArgs{c.start, c.end}, c.count);
        EXPECT_EQ(range.start, c.want_start);
        EXPECT_EQ(range.end, c.want_end);
    }
}

TEST(PrintRun, RangeArgumentsChooseTheDiagrams) {
    const std::string record = record_text(THREE_MOVES);
    EXPECT_EQ(drawn_indexes(run_in_process(record).out), (std::vector<int>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(drawn_indexes(run_in_process(record, {"2", "3"}).out), (std::vector<int>{3, 4}));
    EXPECT_EQ(drawn_indexes(run_in_process(record, {"2"}).out), (std::vector<int>{3, 4, 5, 6}));
    EXPECT_EQ(drawn_indexes(run_in_process(record, {"3", "3"}).out), (std::vector<int>{}));
    EXPECT_EQ(drawn_indexes(run_in_process(record, {"1", "2"}).out), (std::vector<int>{1, 2}));
}

TEST(PrintRun, RangeArgumentsOutsideTheRecordFallBack) {
    const std::string record = record_text(THREE_MOVES);
    const std::vector<int> all = {1, 2, 3, 4, 5, 6};
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"0"}, {"-2"}, {"4"}, {"99999999999999999999"}, {"-99999999999999999999"},
             {"abc"}, {"1", "0"}, {"1", "-1"}, {"1", "4"}, {"1", "99999999999999999999"},
             {"0", "-99999999999999999999"}, {"x", "y"}}) {
        SCOPED_TRACE(testing::PrintToString(args));
        const test::RunResult result = run_in_process(record, args);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(drawn_indexes(result.out), all);
    }
}

TEST(PrintRun, EndAtTheFirstMoveWritesOnlyTheOpeningLine) {
    const test::RunResult result = run_in_process(record_text(THREE_MOVES), {"1", "1"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, OPENING);
}

TEST(PrintRun, StartAtOrAfterTheEndReplaysWithoutDrawing) {
    // The message of the replayed half-move 2 appears; nothing is drawn.
    const test::RunResult result =
        run_in_process(record_text({"e2e4 1 1 1 1 e2e3 1 1 1 1", "d2d4 1 1 1 1 d7d5 1 1 1 1"}),
                       {"2", "2"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, OPENING + "Illegal move + 2 e2e3 \n");
}

TEST(PrintRun, RecordWithoutMovesWritesOnlyTheOpeningLine) {
    for (const char* record : {"", "one\n", "one\ntwo\n", "one\ntwo\n\ne2e4 1 1 1 1 e7e5 1 1 1 1\n"}) {
        SCOPED_TRACE(record);
        const test::RunResult result = run_in_process(record);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out, OPENING);
        EXPECT_EQ(result.err, "");
    }
}

TEST(PrintRun, MessagesStandBetweenTheDiagrams) {
    const test::RunResult result =
        run_in_process(record_text({"e2e4 1 1 1 1 e7e5 1 1 1 1", "d1d2 1 1 1 1 b8c6 1 1 1 1"}));
    const std::vector<std::string> lines = lines_of(result.out);
    ASSERT_EQ(lines.size(), 1U + 4 * 5 + 1 + 1);
    EXPECT_EQ(lines[11], "Illegal move - 3 d1d2 ");
    EXPECT_EQ(lines[13], "R (2 d1d2 score 1 time 1) show");
}

TEST(PrintRun, InvalidMoveIsReportedShownAsWrittenAndSkipped) {
    const test::RunResult result =
        run_in_process(record_text({"e2e4 1 1 1 1 Nf6(!) 2 2 2 2", "g1f3 3 3 3 3 b8c6 4 4 4 4"}));
    EXPECT_EQ(result.status, 0);
    const std::vector<std::string> lines = lines_of(result.out);
    ASSERT_GE(lines.size(), 11U);
    EXPECT_EQ(lines[6], "Illegal move ? 2 Nf6(!) ");
    EXPECT_EQ(lines[8], "R (1  ... Nf6\\(!\\) score 2 time 2) show");
    // Unchanged board: the position after e2e4.
    EXPECT_EQ(lines[10], "C ('#[rnbqkbnr;pppppppp;        ;        ;    P   ;        ;PPPP PPP;RNBQKBNR;]') show");
}

TEST(PrintRun, GameEndingWithWhitesMoveDrawsItLast) {
    const test::RunResult result =
        run_in_process(record_text({"e2e4 1 1 1 1 e7e5 1 1 1 1", "d1h5 7 7 7 7"}));
    const std::vector<std::string> found = captions(result.out);
    ASSERT_EQ(found.size(), 3U);
    EXPECT_EQ(found.back(), "R (2 d1h5 score 7 time 7) show");
    EXPECT_EQ(result.out.find("Illegal"), std::string::npos);
}

TEST(PrintRun, MissingBlackMoveInsideTheRecordIsReportedAndTheTurnPasses) {
    const test::RunResult result =
        run_in_process(record_text({"e2e4 1 1 1 1", "g1f3 3 3 3 3 b8c6 4 4 4 4"}));
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.out.find("Illegal move ? 2  \n"), std::string::npos);
    const std::vector<std::string> found = captions(result.out);
    ASSERT_EQ(found.size(), 4U);
    EXPECT_EQ(found[1], "R (1  ...  score 0 time 0) show");
    EXPECT_EQ(found[2], "R (2 g1f3 score 3 time 3) show");
    // g1f3 was white's own move, played with white to move: no message.
    EXPECT_EQ(result.out.find("Illegal move + 3"), std::string::npos);
}

TEST(PrintRun, ScoresBeyondSixteenBitsPrintInFull) {
    const test::RunResult result = run_in_process(record_text({"e2e4 40000 0 0 70000 e7e5 -40000 0 0 1"}));
    const std::vector<std::string> found = captions(result.out);
    ASSERT_EQ(found.size(), 2U);
    EXPECT_EQ(found[0], "R (1 e2e4 score 40000 time 70000) show");
    EXPECT_EQ(found[1], "R (1  ... e7e5 score -40000 time 1) show");
}

// A long record of knight moves back and forth, numbers of every width,
// and where `damage` says so a half-move that breaks the replay: a move
// text that names no move (every one after it then has findings too).
std::string long_record(int move_lines, int damage_every, const std::string& bad_text) {
    static const std::array<const char*, 4> MOVES = {"g1f3", "b8c6", "f3g1", "c6b8"};
    std::vector<std::string> lines;
    std::uint32_t seed = 7;
    const auto number = [&seed] {
        seed = seed * 1103515245U + 12345U;
        const std::int64_t value = (seed >> 8) % 100'000'000 / (std::int64_t{1} << (seed % 24));
        return std::to_string((seed & 0x40U) != 0 ? -value : value);
    };
    for (int line = 0; line < move_lines; ++line) {
        std::string text;
        for (int side = 0; side < 2; ++side) {
            const int half_move = 2 * line + side;
            const bool damaged = damage_every > 0 && half_move % damage_every == damage_every - 1;
            text += (side == 0 ? "" : " ");
            text += damaged ? bad_text : MOVES[static_cast<std::size_t>(half_move % 4)];
            for (int k = 0; k < 4; ++k) {
                text += ' ';
                text += number();
            }
        }
        lines.push_back(text);
    }
    return record_text(lines);
}

struct WalkOutput {
    std::string text;
    PageState page;
    std::int64_t helped = 0;
};

WalkOutput walk(const MoveTable& table, const RangeArgs& args, const PageState& page,
                bool two_threads) {
    test::Capture capture;
    Output out(capture.file());
    Board start;
    setup_board(start);
    WalkOutput got;
    got.page = page;
    if (two_threads)
        got.helped = print_game_on_two_threads(table, start, args, got.page, out);
    else
        print_game(table, start, args, got.page, out);
    end_sheet(got.page, out);
    EXPECT_TRUE(flush_output(out));
    got.text = capture.text();
    return got;
}

TEST(PageAfterDiagrams, CountsAsDrawingThemOneByOne) {
    const MoveTable table = test::read_table(long_record(40, 0, ""));
    for (std::int64_t drawn = 0; drawn <= 80; ++drawn) {
        SCOPED_TRACE(drawn);
        PageState page;
        Board board;
        setup_board(board);
        test::Capture capture;
        Output out(capture.file());
        for (std::int64_t i = 1; i <= drawn; ++i)
            write_diagram(page, board, table, i, out);
        const PageState counted = page_after_diagrams(drawn);
        EXPECT_EQ(counted.boards_on_page, page.boards_on_page);
        EXPECT_EQ(counted.boards_in_row, page.boards_in_row);
        EXPECT_EQ(counted.titled, page.titled);
    }
}

// Stretches are 1,024 half-moves: the ranges start and end inside them,
// on their edges, in the first and the last, and draw nothing at all.
TEST(PrintGameOnTwoThreads, WritesWhatOneThreadWrites) {
    struct Case {
        const char* name;
        std::string record;
        std::vector<RangeArgs> ranges;
    };
    const std::vector<RangeArgs> ranges = {
        {}, {3000, {}}, {3000, 9000}, {512, 513}, {513, 1025}, {9000, 3000}, {11000, {}}, {1, 2}};
    const std::vector<Case> cases = {
        {"clean", long_record(12'000, 0, ""), ranges},
        {"damaged now and then", long_record(12'000, 5'001, "Nf6(!)"), ranges},
        // Every half-move's findings and caption show a long text: a
        // stretch's output overflows its slot's buffer.
        {"findings everywhere", long_record(5'000, 1, std::string(300, '(')), {{}, {700, 1900}}},
        {"a single stretch", long_record(500, 0, ""), {{}}},
    };
    std::int64_t helped = 0;
    for (const Case& c : cases) {
        const MoveTable table = test::read_table(c.record);
        for (const RangeArgs& args : c.ranges) {
            SCOPED_TRACE(testing::Message() << c.name << ", range " << args.start_move.value_or(-1)
                                            << " " << args.end_move.value_or(-1));
            const WalkOutput one = walk(table, args, PageState{}, false);
            const WalkOutput two = walk(table, args, PageState{}, true);
            ASSERT_EQ(two.text.size(), one.text.size());
            EXPECT_TRUE(two.text == one.text);
            EXPECT_EQ(two.page.boards_on_page, one.page.boards_on_page);
            EXPECT_EQ(two.page.boards_in_row, one.page.boards_in_row);
            helped += two.helped;
        }
    }
    // Not for every walk, since this thread may take every stretch first,
    // but over all of them the second thread must have taken part.
    EXPECT_GT(helped, 0);
}

TEST(PrintGameOnTwoThreads, APageAlreadyBegunIsLeftToOneThread) {
    const MoveTable table = test::read_table(long_record(6'000, 0, ""));
    PageState begun;
    begun.boards_on_page = 5;
    begun.boards_in_row = 2;
    const WalkOutput one = walk(table, {}, begun, false);
    const WalkOutput two = walk(table, {}, begun, true);
    EXPECT_TRUE(two.text == one.text);
    EXPECT_EQ(two.helped, 0);
    EXPECT_EQ(two.page.boards_on_page, one.page.boards_on_page);
}

TEST(PrintRun, ALongSheetFailingToWriteIsReported) {
    const test::TempFile record(long_record(6'000, 0, ""));
    const test::RunResult result = test::run_program({record.path()}, "", "> /dev/full");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "tavrik: write error: No space left on device\n");
}

// The board text of a position given in FEN's piece placement field.
std::string board_text_of_fen(const std::string& placement) {
    std::string text = "C ('#[";
    for (const char c : placement) {
        if (c == '/')
            text += ';';
        else if (std::isdigit(static_cast<unsigned char>(c)))
            text.append(static_cast<std::size_t>(c - '0'), ' ');
        else
            text += c;
    }
    return text + ";]') show";
}

// Each sample's diagrams show the positions an independent move generator
// reached for the same game.
TEST(SampleRecords, DiagramsMatchTheCheckedPositions) {
    for (const char* name : {"club-match", "scholars-mate"}) {
        SCOPED_TRACE(name);
        const std::string source = TAVRIK_SOURCE_DIR;
        const test::RunResult result = run_in_process(read_file(source + "/examples/" + name + ".rec"));
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out.find("Illegal"), std::string::npos);
        std::vector<std::string> boards;
        for (const std::string& line : lines_of(result.out))
            if (line.rfind("C (", 0) == 0)
                boards.push_back(line);
        const std::vector<std::string> fens = lines_of(read_file(source + "/tests/data/" + name + ".fen"));
        ASSERT_FALSE(fens.empty());
        ASSERT_EQ(boards.size(), fens.size());
        for (std::size_t k = 0; k < fens.size(); ++k)
            EXPECT_EQ(boards[k], board_text_of_fen(fens[k])) << "half-move " << k + 1;
    }
}

TEST(SampleRecords, SheetsMatchTheReviewedGoldenFiles) {
    for (const char* name : {"club-match", "scholars-mate"}) {
        SCOPED_TRACE(name);
        const std::string source = TAVRIK_SOURCE_DIR;
        const std::string golden = read_file(source + "/tests/golden/" + name + ".ps");
        ASSERT_FALSE(golden.empty());
        EXPECT_EQ(run_in_process(read_file(source + "/examples/" + name + ".rec")).out, golden);
    }
}

} // namespace
} // namespace tavrik

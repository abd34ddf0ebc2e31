// The inputs users actually get wrong, run through the built program, each
// with the outcome it must have: exit status, what standard output holds
// and the line on standard error.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "support.h"

namespace tavrik {
namespace {

using test::read_file;
using test::record_text;
using test::run_program;
using test::RunResult;
using test::TempFile;

const std::string SOURCE = TAVRIK_SOURCE_DIR;
const std::string OPENING = "/V 11 72 mul def /L 60 def\n";

// What standard output must hold.
enum class Shape {
    NOTHING,  // not a byte
    SHEET,    // a sheet of exactly `diagrams` diagrams
    ANY_SHEET // a sheet of any number of diagrams
};

struct BadInput {
    std::string name;
    std::string record;
    std::vector<std::string> range_args = {};
    int status = 0;
    Shape shape = Shape::SHEET;
    std::int64_t diagrams = 0;
    // Lines standard output must contain, in this order.
    std::vector<std::string> lines = {};
    // Standard error, exactly; "{}" stands for the record's path.
    std::string err = {};
    // Run with another path than the record's, or another output.
    std::string path = {};
    std::string output = {};
};

std::string two_moves(const std::string& first_line) {
    return record_text({first_line, "g1f3 1 1 1 1 b8c6 1 1 1 1"});
}

std::string random_bytes(std::size_t n) {
    std::mt19937 engine(20261208);
    std::string bytes(n, '\0');
    for (char& c : bytes)
        c = static_cast<char>(engine() & 0xFF);
    return bytes;
}

std::string knight_shuffle(int move_lines) {
    std::vector<std::string> lines;
    lines.reserve(static_cast<std::size_t>(move_lines));
    for (int k = 0; k < move_lines; ++k)
        lines.emplace_back(k % 2 == 0 ? "g1f3 1 2 3 4 g8f6 5 6 7 8" : "f3g1 1 2 3 4 f6g8 5 6 7 8");
    return record_text(lines);
}

std::string repeated(std::string_view text, int times) {
    std::string out;
    for (int k = 0; k < times; ++k)
        out += text;
    return out;
}

std::string with_crlf(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
}

const std::string GAME = record_text({"e2e4 1 1 1 1 e7e5 1 1 1 1", "g1f3 2 2 2 2 b8c6 2 2 2 2",
                                      "f1b5 3 3 3 3 a7a6 3 3 3 3"});

std::vector<BadInput> catalogue() {
    const std::string mega_line = "e2e4 " + std::string(1 << 20, '9') + " 1 1 7 e7e5 1 1 1 1";
    return {
        {.name = "empty file", .record = ""},
        {.name = "only headers", .record = record_text({})},
        {.name = "random binary bytes", .record = random_bytes(4096), .shape = Shape::ANY_SHEET},
        {.name = "NUL inside a token",
         .record = two_moves(std::string("e2\0e4 1 1 1 1 e7e5 1 1 1 1", 26)),
         .diagrams = 4,
         .lines = {"Illegal move ? 1 e2?e4 ", "R (1 e2?e4 score 1 time 1) show"}},
        // A tab is part of a token: the whole line is white's move text,
        // which still begins with a move, and black's move is missing.
        {.name = "tabs instead of spaces",
         .record = two_moves("e2e4\t1\t1\t1\t1\te7e5\t1\t1\t1\t1"),
         .diagrams = 4,
         .lines = {"R (1 e2e4 score 0 time 0) show", "Illegal move ? 2  "}},
        {.name = "upper-case castling",
         .record = two_moves("O-O 1 1 1 1 e7e5 1 1 1 1"),
         .diagrams = 4,
         .lines = {"Illegal move ? 1 O-O ", "R (1 O-O score 1 time 1) show"}},
        {.name = "algebraic moves",
         .record = two_moves("Nf3 1 1 1 1 exd5 1 1 1 1"),
         .diagrams = 4,
         .lines = {"Illegal move ? 1 Nf3 ", "Illegal move ? 2 exd5 "}},
        {.name = "tokens of one to three characters",
         .record = record_text({"e 1 1 1 1 e7 1 1 1 1", "e2e 1 1 1 1 b8c6 1 1 1 1"}),
         .diagrams = 4,
         .lines = {"Illegal move ? 1 e ", "Illegal move ? 2 e7 ", "Illegal move ? 3 e2e "}},
        // Longer than the output's buffer once escaped: written in parts.
        {.name = "an invalid move of 200,000 bytes",
         .record = two_moves(std::string(100'000, '(') + std::string(100'000, '\x7f') + " 1 1 1 1 e7e5 1 1 1 1"),
         .diagrams = 4,
         .lines = {"Illegal move ? 1 " + std::string(100'000, '(') + std::string(100'000, '?') + " ",
                   "R (1 " + repeated("\\(", 100'000) + std::string(100'000, '?') + " score 1 time 1) show"}},
        {.name = "a line of a megabyte",
         .record = two_moves(mega_line),
         .diagrams = 4,
         .lines = {"R (1 e2e4 score 9223372036854775807 time 7) show"}},
        {.name = "100,000 move lines", .record = knight_shuffle(100'000), .diagrams = 200'000},
        {.name = "a line of spaces in the middle ends the record",
         .record = record_text({"e2e4 1 1 1 1 e7e5 1 1 1 1", "     ", "g1f3 1 1 1 1 b8c6 1 1 1 1"}),
         .diagrams = 2},
        {.name = "a short line in the middle",
         .record = record_text({"e2e4 1 1 1 1", "g1f3 1 1 1 1 b8c6 1 1 1 1"}),
         .diagrams = 4,
         .lines = {"Illegal move ? 2  "}},
        {.name = "a short line at the end",
         .record = record_text({"e2e4 1 1 1 1 e7e5 1 1 1 1", "g1f3 1 1 1 1"}),
         .diagrams = 3,
         .lines = {"R (2 g1f3 score 1 time 1) show"}},
        {.name = "numbers beyond 64 bits",
         .record = two_moves("e2e4 99999999999999999999 1 1 -99999999999999999999 e7e5 1 1 1 1"),
         .diagrams = 4,
         .lines = {"R (1 e2e4 score 9223372036854775807 time -9223372036854775808) show"}},
        {.name = "range arguments that are text", .record = GAME, .range_args = {"two", "x"},
         .diagrams = 6},
        {.name = "range arguments of 0", .record = GAME, .range_args = {"0", "0"}, .diagrams = 6},
        {.name = "negative range arguments", .record = GAME, .range_args = {"-2", "-1"},
         .diagrams = 6},
        {.name = "huge range arguments", .record = GAME,
         .range_args = {"99999999999999999999", "9223372036854775807"}, .diagrams = 6},
        {.name = "the file is a directory", .record = "", .status = 1, .shape = Shape::NOTHING,
         .err = "tavrik: {}: Is a directory\n", .path = SOURCE},
        {.name = "the file does not exist", .record = "", .status = 1, .shape = Shape::NOTHING,
         .err = "tavrik: {}: No such file or directory\n", .path = "/nonexistent/game.rec"},
        {.name = "standard output is /dev/full", .record = GAME, .status = 1,
         .shape = Shape::NOTHING, .err = "tavrik: write error: No space left on device\n",
         .output = "> /dev/full"},
        // Descriptor 1 is free, so the record is opened on it, read-only:
        // writing the sheet fails rather than reaching the record.
        {.name = "standard output is closed", .record = GAME, .status = 1,
         .shape = Shape::NOTHING, .err = "tavrik: write error: Bad file descriptor\n",
         .output = ">&-"},
    };
}

std::int64_t count_of(const std::string& text, const std::string& what) {
    std::int64_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

void expect_sheet(const BadInput& input, const std::string& out) {
    ASSERT_EQ(out.rfind(OPENING, 0), 0U) << "no opening line";
    const std::int64_t diagrams = count_of(out, "\nC ('#[");
    EXPECT_EQ(count_of(out, "\nR ("), diagrams);
    EXPECT_EQ(count_of(out, "showpage\n"), (diagrams + 17) / 18);
    if (input.shape == Shape::SHEET) {
        EXPECT_EQ(diagrams, input.diagrams);
    }
    std::size_t at = 0;
    for (const std::string& line : input.lines) {
        at = out.find("\n" + line + "\n", at);
        ASSERT_NE(at, std::string::npos) << "missing, or out of order: " << line;
    }
}

TEST(BadInput, EachClassHasItsOutcome) {
    for (const BadInput& input : catalogue()) {
        SCOPED_TRACE(input.name);
        const TempFile record(input.record);
        const std::string path = input.path.empty() ? record.path() : input.path;
        std::vector<std::string> args = {path};
        args.insert(args.end(), input.range_args.begin(), input.range_args.end());

        const RunResult result = run_program(args, "", input.output);
        EXPECT_EQ(result.status, input.status);
        std::string err = input.err;
        if (const std::size_t at = err.find("{}"); at != std::string::npos)
            err.replace(at, 2, path);
        EXPECT_EQ(result.err, err);
        if (input.shape == Shape::NOTHING) {
            EXPECT_EQ(result.out, "");
        } else {
            expect_sheet(input, result.out);
        }
        EXPECT_EQ(read_file(record.path()), input.record) << "the record changed";
    }
}

// The program run in an address space of at most 30 MB.
RunResult run_in_little_memory(const std::string& record_path) {
    return test::run_command({"sh", "-c", R"(ulimit -v 30000 && exec "$0" "$1")", TAVRIK_BINARY,
                              record_path});
}

TEST(BadInput, ARecordBeyondMemoryIsReportedNotACrash) {
#ifdef TAVRIK_SANITIZED
    GTEST_SKIP() << "the sanitizers need more address space than the limit allows";
#endif
    // Blank lines count towards the table's reservation but end the
    // record: a reservation that cannot be had must not stop the run.
    const TempFile blank_lines(record_text({}) + std::string(5'000'000, '\n'));
    const RunResult blank = run_in_little_memory(blank_lines.path());
    EXPECT_EQ(blank.status, 0);
    EXPECT_EQ(blank.out, OPENING);
    EXPECT_EQ(blank.err, "");

    // A table that does not fit is a failure to read the record.
    const TempFile long_game(knight_shuffle(600'000));
    const RunResult game = run_in_little_memory(long_game.path());
    EXPECT_EQ(game.status, 1);
    EXPECT_EQ(game.out, "");
    EXPECT_EQ(game.err, "tavrik: " + long_game.path() + ": Cannot allocate memory\n");
}

TEST(BadInput, CrlfLineEndsGiveTheSameSheetAsNewlines) {
    for (const std::string& text :
         {GAME, record_text({"e2e4 1 1 1 1", "g1f3 1 1 1 1 b8c6 1 1 1 1", "   ", "d2d4"})}) {
        const TempFile lf(text);
        const TempFile crlf(with_crlf(text));
        const RunResult expected = run_program({lf.path()});
        const RunResult result = run_program({crlf.path()});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out, expected.out);
        EXPECT_EQ(result.err, "");
    }
}

} // namespace
} // namespace tavrik

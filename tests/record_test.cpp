#include <gtest/gtest.h>
#include <sched.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "record/record.h"
#include "support.h"

namespace tavrik {
namespace {

using test::read_table;
using test::record_text;

TEST(DecodeMoveText, CoordinateTextGivesFromSquareHighToSquareLow) {
    EXPECT_EQ(decode_move_text("e2e4", WHITE).move, 0x0C1C);
    EXPECT_EQ(decode_move_text("a1h8", WHITE).move, 0x003F);
    EXPECT_EQ(decode_move_text("h8a1", BLACK).move, 0x3F00);
    EXPECT_EQ(decode_move_text("e2e4", WHITE).flags, 0);
}

TEST(DecodeMoveText, PromotionLetterSetsPromotionBitAndPiece) {
    const DecodedMove queen = decode_move_text("e7e8q", WHITE);
    EXPECT_EQ(queen.move, 0x343C);
    EXPECT_EQ(queen.flags, 13);
    EXPECT_EQ(decode_move_text("e7e8n", WHITE).flags, 10);
    EXPECT_EQ(decode_move_text("e7e8b", WHITE).flags, PROMOTION_BIT | BISHOP);
    EXPECT_EQ(decode_move_text("e7e8r", WHITE).flags, PROMOTION_BIT | ROOK);
    EXPECT_EQ(decode_move_text("e2e1p", BLACK).flags, PROMOTION_BIT | PAWN);
    EXPECT_EQ(decode_move_text("e2e1k", BLACK).flags, PROMOTION_BIT | KING);
}

TEST(DecodeMoveText, OnlyLowerCasePromotionLettersCount) {
    EXPECT_EQ(decode_move_text("e7e8Q", WHITE).flags, 0);
    EXPECT_EQ(decode_move_text("e7e8Q", WHITE).move, 0x343C);
}

TEST(DecodeMoveText, FifthCharacterThatIsNoLetterIsIgnored) {
    EXPECT_EQ(decode_move_text("e2e4+", WHITE).flags, 0);
    EXPECT_EQ(decode_move_text("e2e4+", WHITE).move, 0x0C1C);
    EXPECT_EQ(decode_move_text("e2e4\n", WHITE).flags, 0);
    EXPECT_EQ(decode_move_text("e2e4!?", WHITE).move, 0x0C1C);
}

TEST(DecodeMoveText, CastlingWordsDependOnColour) {
    EXPECT_EQ(decode_move_text("o-o", WHITE).move, WHITE_KING_SIDE);
    EXPECT_EQ(decode_move_text("o-o", BLACK).move, BLACK_KING_SIDE);
    EXPECT_EQ(decode_move_text("o-o-o", WHITE).move, WHITE_QUEEN_SIDE);
    EXPECT_EQ(decode_move_text("o-o-o", BLACK).move, BLACK_QUEEN_SIDE);
    EXPECT_EQ(decode_move_text("o-o-o", BLACK).flags, 0);
    EXPECT_EQ(WHITE_KING_SIDE, 0x0406);
    EXPECT_EQ(WHITE_QUEEN_SIDE, 0x0402);
    EXPECT_EQ(BLACK_KING_SIDE, 0x3C3E);
    EXPECT_EQ(BLACK_QUEEN_SIDE, 0x3C3A);
}

TEST(DecodeMoveText, TextThatNamesNoSquaresIsInvalidNotAliased) {
    // "i1" would otherwise land on a2, "a9" on b1.
    for (const char* text : {"i1a2", "a9a1", "a0a1", "e2i4", "e2e9", "Nf3", "exd5", "O-O",
                             "O-O-O", "e2", "e2e", "", "E2E4", "1-0", "\t"}) {
        SCOPED_TRACE(text);
        const DecodedMove decoded = decode_move_text(text, WHITE);
        EXPECT_TRUE(decoded.flags & INVALID_BIT);
        EXPECT_FALSE(decoded.flags & PROMOTION_BIT);
    }
}

TEST(FormatMove, WritesFromAndToSquares) {
    EXPECT_EQ(format_move(12, 28), "e2e4");
    EXPECT_EQ(format_move(from_square(BLACK_QUEEN_SIDE), to_square(BLACK_QUEEN_SIDE)), "e8c8");
    EXPECT_EQ(format_move(from_square(WHITE_KING_SIDE), to_square(WHITE_KING_SIDE)), "e1g1");
    EXPECT_EQ(format_move(0, 63), "a1h8");
}

TEST(FormatMove, SquareToItselfIsEmptyText) { EXPECT_EQ(format_move(20, 20), ""); }

TEST(PrintableText, ReplacesControlAndNonAsciiBytes) {
    EXPECT_EQ(printable_text("Nf3+"), "Nf3+");
    EXPECT_EQ(printable_text(std::string("a\0b\x7f\xc3\xa9\r", 7)), "a?b????");
}

TEST(ParseDecimal, ConvertsLikeTheCLibrary) {
    EXPECT_EQ(parse_decimal("12"), 12);
    EXPECT_EQ(parse_decimal("-5"), -5);
    EXPECT_EQ(parse_decimal("+7"), 7);
    EXPECT_EQ(parse_decimal("\t42"), 42);
    EXPECT_EQ(parse_decimal("12abc"), 12);
    EXPECT_EQ(parse_decimal("abc"), 0);
    EXPECT_EQ(parse_decimal(""), 0);
    EXPECT_EQ(parse_decimal("40000"), 40000);
    EXPECT_EQ(parse_decimal("4294967296"), 4294967296LL);
}

TEST(ParseDecimal, ClampsAtTheSixtyFourBitBounds) {
    EXPECT_EQ(parse_decimal("99999999999999999999999"), LLONG_MAX);
    EXPECT_EQ(parse_decimal("-99999999999999999999999"), LLONG_MIN);
}

TEST(ParseDecimal, AgreesWithStrtollAtTheEdges) {
    for (const char* text :
         {"9223372036854775807", "9223372036854775808", "9223372036854775810",
          "-9223372036854775808", "-9223372036854775809", "-9223372036854775818",
          "18446744073709551616", "922337203685477580", " \n\v\f\r-3", "--3", "-", "+-1",
          "- 5", "0x1f", "00012", "-0", "1e5", "\0015", "7\t8", "999999999999999999",
          "9999999999999999999", "-999999999999999999", "0000000000000000009223372036854775807",
          "00000000000000000000009223372036854775808", "-00000000000000000009223372036854775809"}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(parse_decimal(text), std::strtoll(text, nullptr, 10));
    }
}

TEST(TableMemory, LargeBlocksAreAlignedToHugePagesAndUsable) {
    constexpr std::size_t MIB = std::size_t{1} << 20;
    for (const std::size_t bytes : {std::size_t{40}, MIB, 2 * MIB, 5 * MIB + 3}) {
        SCOPED_TRACE(bytes);
        auto* block = static_cast<unsigned char*>(allocate_table_memory(bytes));
        ASSERT_NE(block, nullptr);
        if (bytes >= 2 * MIB) {
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % (2 * MIB), 0U);
        }
        block[0] = 1;
        block[bytes - 1] = 2;
        EXPECT_EQ(block[0] + block[bytes - 1], 3);
        free_table_memory(block);
    }
}

TEST(ReadRecordFile, ReservesTwoHalfMovesForEveryLineOfARegularFile) {
    // Line counts either side of the words of eight or sixteen bytes and
    // of the runs of 255 words in which the newlines are summed; blank
    // lines only, so that a byte's count in a run can reach 255.
    for (const bool blank_only : {false, true}) {
        for (const std::size_t lines : {0, 1, 7, 8, 9, 15, 16, 17, 300, 2041, 4079, 4080, 4081, 5000, 9000}) {
            SCOPED_TRACE(testing::Message() << lines << (blank_only ? " blank" : ""));
            std::string text = "W - B\n1-0\n";
            for (std::size_t k = 0; k < lines; ++k)
                text += k % 3 == 0 && !blank_only ? "e2e4 1 2 3 4 e7e5 5 6 7 8\n" : "\n";
            std::FILE* file = std::tmpfile();
            ASSERT_NE(file, nullptr);
            ASSERT_EQ(std::fwrite(text.data(), 1, text.size(), file), text.size());
            std::rewind(file);
            MoveTable table;
            EXPECT_EQ(read_record_file(file, table), 0);
            std::fclose(file);
            // Every line, headers too, and one more for a last line
            // without its newline.
            EXPECT_EQ(table.half_moves.capacity(), 2 * (lines + 3));
            EXPECT_EQ(table.count(), lines > 0 && !blank_only ? 2 : 0);
        }
    }
}

// The table of a text read from a stream that is no regular file, as a
// pipe is, where lines come one at a time.
MoveTable read_table_from_stream(std::string text) {
    std::FILE* file = fmemopen(text.data(), text.size(), "r");
    EXPECT_NE(file, nullptr);
    MoveTable table;
    EXPECT_EQ(read_record_file(file, table), 0);
    std::fclose(file);
    return table;
}

void expect_same_tables(const MoveTable& a, const MoveTable& b) {
    EXPECT_EQ(a.headers, b.headers);
    ASSERT_EQ(a.count(), b.count());
    for (std::int64_t i = 1; i <= a.count(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(a.at(i).move, b.at(i).move);
        EXPECT_EQ(a.at(i).flags, b.at(i).flags);
        EXPECT_EQ(a.at(i).score, b.at(i).score);
        EXPECT_EQ(a.at(i).number2, b.at(i).number2);
        EXPECT_EQ(a.at(i).number3, b.at(i).number3);
        EXPECT_EQ(a.at(i).time, b.at(i).time);
    }
    EXPECT_EQ(a.invalid_texts, b.invalid_texts);
}

TEST(ReadRecordFile, RegularFilesAndStreamsGiveTheSameTable) {
    const std::string move_line = "e2e4 12 3 4567 8 e7e5 -5 3 3456 7";
    // A line longer than the blocks a regular file is read in.
    const std::string long_line = "e2e4 1 2 3 " + std::string(std::size_t{300} * 1024, '9') + " zz 5 6 7 8";
    std::string many;
    for (int k = 0; k < 20000; ++k)
        many += move_line + (k % 7 == 0 ? "\r\n" : "\n");
    const std::vector<std::string> texts = {
        "",
        "W - B",
        "W - B\n1-0",
        "W - B\r\n1-0\r\n" + move_line + "\r\n",
        "W - B\n1-0\n" + move_line,                      // no newline at the end
        "W - B\n1-0\n" + move_line + "\nx",
        "W - B\n1-0\n" + move_line + "\n\n" + move_line + "\n", // stops at the blank line
        "W - B\n1-0\n" + move_line + "\n   \n" + move_line + "\n",
        "W - B\n1-0\ne2e4 1 2 3 4\n" + move_line + "\ne7e5\n",
        std::string("W\0 - B\n1-0\ne2e4 1\0 2 3 4 d7d5 5 6 7 8\n", 38),
        "W - B\n1-0\n" + long_line + "\n" + move_line + "\n",
        "W - B\n1-0\n" + many,
        "W - B\n1-0\n" + many + "e2e4 1 2 3",
    };
    for (const std::string& text : texts) {
        SCOPED_TRACE(text.substr(0, 40));
        expect_same_tables(read_table(text), read_table_from_stream(text));
    }
}

// The table of a record read from a regular file, and the parts it was
// read in.
MoveTable read_table_in_parts(const std::string& text, std::size_t& parts) {
    std::FILE* file = std::tmpfile();
    EXPECT_NE(file, nullptr);
    std::fwrite(text.data(), 1, text.size(), file);
    std::rewind(file);
    MoveTable table;
    ReadReport report;
    EXPECT_EQ(read_record_file(file, table, &report), 0);
    std::fclose(file);
    parts = report.parts;
    return table;
}

// Records of more than a MiB are read in parts. A part starts after the
// first newline 512 KiB or more past the previous start. Each case puts a
// few special lines at a given distance from every such point of a 1.8 MB
// record, so that parts start before, inside and after them; the table
// must be the one a stream gives, read line by line.
TEST(ReadRecordFile, LongRecordsReadInPartsGiveTheSameTable) {
    const std::string move_line = "e2e4 12 3 4567 8 e7e5 -5 3 3456 7\n";
    const std::vector<std::string> specials = {
        "",
        "e2e4 1 2 3 4\n", // black missing
        "e2e4 1 2 3 4\ne2e4 1 2 3 4\n",
        "e2e4 1 2 3 4\n\n", // then the end
        "\n",
        "   \r\n",
        "zz 1 2 3 4\n\n", // an invalid text before the end, more after it
        "zz 1 2 3 4 e7e5 5 6 7 8\ne2e4 1 2 3 4 qq 5 6 7 8\n",
        "e2e4 1 2 3 4\r\ne7e8q 5 6 7 8 o-o-o 1 2 3 4\r\n",
        std::string("e2e4 1\0 2 3 4 d7d5 5 6 7 8\n", 27),
        "e2e4 1 2 3 " + std::string(std::size_t{100} * 1024, '7') + " zz 5 6 7 8\n",
    };
    constexpr std::size_t PART = std::size_t{512} * 1024;
    constexpr std::size_t SIZE = 3 * PART + PART / 2;
    for (const std::string& special : specials) {
        for (const long shift : {-40L, -13L, -12L, -1L, 0L, 5L}) {
            std::string text = "W - B\n1-0\n";
            std::vector<std::size_t> starts;
            for (std::size_t start = 0; text.size() < SIZE;) {
                const std::size_t target = start + PART;
                const auto special_at = static_cast<std::size_t>(static_cast<long>(target) + shift);
                while (text.size() + 2 * move_line.size() <= special_at)
                    text += move_line;
                // The last move line padded with spaces to end where the
                // special lines begin.
                const std::size_t pad = special_at - text.size() - move_line.size();
                ASSERT_LT(pad, move_line.size());
                text += move_line.substr(0, move_line.size() - 1) + std::string(pad, ' ') + "\n";
                text += special;
                while (text.find('\n', target) == std::string::npos)
                    text += move_line;
                start = text.find('\n', target) + 1;
                starts.push_back(start);
            }
            SCOPED_TRACE(testing::Message() << printable_text(special.substr(0, 40)) << " shift " << shift);
            std::size_t parts = 0;
            expect_same_tables(read_table_in_parts(text, parts), read_table_from_stream(text));
            // The first part, and one for each start before the end.
            EXPECT_EQ(parts, 1 + std::count_if(starts.begin(), starts.end(),
                                               [&text](std::size_t start) { return start < text.size(); }));
        }
    }
    // The record ends with white's move, or within its first part.
    std::string text = "W - B\n1-0\n";
    while (text.size() < SIZE)
        text += move_line;
    for (const std::string& end : {std::string("e2e4 1 2 3 4"), std::string("e2e4 1 2 3 4\n")})
        expect_same_tables(read_table(text + end), read_table_from_stream(text + end));
    const std::string early_end = text.substr(0, 200 * move_line.size()) + "\n" + text;
    expect_same_tables(read_table(early_end), read_table_from_stream(early_end));
}

// Long records of lines of every kind in random order, each read in parts
// and as a stream.
TEST(ReadRecordFile, LongRecordsOfMixedLinesGiveTheSameTable) {
    const std::vector<std::string> kinds = {
        "e2e4 12 3 4567 8 e7e5 -5 3 3456 7\n",
        "g1f3 1 2 3 4\n",
        "zz 1 2 3 4 e7e5 5 6 7 8\n",
        "e2e4 1 2 3 4 qq 5 6 7 8\r\n",
        "   e7e8q  99999999999999999999 -0 +5 x   o-o-o 1 2 3 4   \n",
        std::string("e2e4 1\0 2 3 4 d7d5 5 6 7 8\n", 27),
        "x\n",
        "e2e4 1 2 3 " + std::string(std::size_t{70} * 1024, '7') + " zz 5 6 7 8\n",
    };
    std::mt19937 random(20261208);
    for (int record = 0; record < 6; ++record) {
        std::string text = "W - B\n1-0\n";
        while (text.size() < std::size_t{1400} * 1024) {
            const std::uint32_t pick = random() % 1000;
            // Mostly plain lines, a long one now and then, and in some
            // records one blank line that ends them early.
            if (pick == 0 && record % 2 == 1)
                text += "\n";
            else if (pick < 3)
                text += kinds.back();
            else
                text += kinds[pick < 700 ? 0 : 1 + pick % (kinds.size() - 2)];
        }
        SCOPED_TRACE(record);
        std::size_t parts = 0;
        expect_same_tables(read_table_in_parts(text, parts), read_table_from_stream(text));
        EXPECT_GT(parts, 1U);
    }
}

// The reading starts where the stream stands, whatever it has buffered.
TEST(ReadRecordFile, RegularFilesAreReadFromTheStreamsPosition) {
    std::string record = "W - B\n1-0\n";
    for (int k = 0; k < 40000; ++k)
        record += "e2e4 " + std::to_string(k) + " 3 4567 8 e7e5 -5 3 3456 7\n";
    for (const std::string& text : {record, record.substr(0, 2000)}) {
        std::FILE* file = std::tmpfile();
        ASSERT_NE(file, nullptr);
        const std::string skipped = "skipped line\n";
        std::fwrite(skipped.data(), 1, skipped.size(), file);
        std::fwrite(text.data(), 1, text.size(), file);
        std::rewind(file);
        // Reading the first line fills the stream's buffer far beyond it.
        char line[64];
        ASSERT_NE(std::fgets(line, sizeof line, file), nullptr);
        MoveTable table;
        EXPECT_EQ(read_record_file(file, table), 0);
        std::fclose(file);
        expect_same_tables(table, read_table_from_stream(text));
    }
}

// With one CPU to run on, a long record is read in one piece.
TEST(ReadRecordFile, LongRecordsOnOneCpuGiveTheSameTable) {
    cpu_set_t before;
    ASSERT_EQ(sched_getaffinity(0, sizeof before, &before), 0);
    const int cpu = sched_getcpu();
    ASSERT_GE(cpu, 0);
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cpu, &one);
    ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
    std::string text = "W - B\n1-0\n";
    for (int k = 0; k < 40000; ++k)
        text += "e2e4 " + std::to_string(k) + " 3 4567 8 " + (k == 30000 ? "zz" : "e7e5") + " -5 3 3456 7\n";
    std::size_t parts = 0;
    const MoveTable table = read_table_in_parts(text, parts);
    ASSERT_EQ(sched_setaffinity(0, sizeof before, &before), 0);
    EXPECT_EQ(parts, 1U);
    expect_same_tables(table, read_table_from_stream(text));
    // With two the same record is read in parts.
    if (CPU_COUNT(&before) >= 2) {
        expect_same_tables(read_table_in_parts(text, parts), table);
        EXPECT_GT(parts, 1U);
    }
}

// The second thread is kept off the caller's CPU, but the caller keeps
// every CPU it had, even when the second thread has read all parts and
// ended before the first has begun. Both CPUs are kept busy meanwhile,
// which makes that early end likely.
TEST(ReadRecordFile, ReadingInPartsLeavesTheCallersCpusAsTheyWere) {
    cpu_set_t before;
    ASSERT_EQ(sched_getaffinity(0, sizeof before, &before), 0);
    if (CPU_COUNT(&before) < 2)
        GTEST_SKIP() << "one CPU: records are read in one piece";
    std::string text = "W - B\n1-0\n";
    while (text.size() < std::size_t{1100} * 1024)
        text += "e2e4 12 3 4567 8 e7e5 -5 3 3456 7\n";
    const auto spin = [](const std::stop_token& stop) {
        while (!stop.stop_requested()) {
        }
    };
    const std::array<std::jthread, 4> busy = {std::jthread(spin), std::jthread(spin), std::jthread(spin),
                                             std::jthread(spin)};
    for (int run = 0; run < 100; ++run) {
        std::size_t parts = 0;
        read_table_in_parts(text, parts);
        cpu_set_t after;
        ASSERT_EQ(sched_getaffinity(0, sizeof after, &after), 0);
        ASSERT_TRUE(CPU_EQUAL(&before, &after)) << "after run " << run;
        ASSERT_GT(parts, 1U);
    }
}

TEST(ReadRecordFile, NumbersReadAsTheCLibraryReadsThemInEveryPlace) {
    const char* const numbers[] = {
        "0", "7", "-7", "+7", "-0", "42", "1234", "1234567", "-1234567", "+1234567", "12345678",
        "-12345678", "123456789", "00000001", "0000000012", "-", "+", "x", "7x", "-12ab", "1-2",
        "+-1", "99999999999999999999", "-9223372036854775809", "9a999999", "12345678x",
        "1234567\x80", "5\t6",
        // Bytes just outside the digits, and bytes whose test carries
        // (\x35 is 5, \x38 8, \x39 9).
        "12:34", "12/34", "1\xb0", "1\xc9", "\xff\x35", "-\xc9\x39", "7\xfa\x38", "0123456:", "0/"};
    for (const char* number : numbers) {
        SCOPED_TRACE(number);
        const std::int64_t expected = std::strtoll(number, nullptr, 10);
        // The number in each of the four places, with the rest of the line
        // long or short after it.
        for (int place = 0; place < 4; ++place) {
            std::string fields[4] = {"1", "2", "3", "4"};
            fields[place] = number;
            const std::string white = "e2e4 " + fields[0] + " " + fields[1] + " " + fields[2] + " " + fields[3];
            for (const std::string& line : {white + " e7e5 5 6 7 8", white}) {
                const MoveTable table = read_table(record_text({line}));
                ASSERT_GE(table.count(), 1);
                const HalfMove& half_move = table.at(1);
                const std::int64_t read[4] = {half_move.score, half_move.number2, half_move.number3,
                                              half_move.time};
                EXPECT_EQ(read[place], expected) << line;
            }
        }
    }
}

TEST(ReadRecordFile, OnlyTheSpaceSeparatesTokens) {
    // The tab belongs to the move text, whose fifth character it is.
    const MoveTable table = read_table(record_text({"e2e4\t9 1 2 3 4 e7e5\t5 6 7 8"}));
    ASSERT_EQ(table.count(), 2);
    EXPECT_EQ(table.at(1).move, decode_move_text("e2e4", WHITE).move);
    EXPECT_EQ(table.at(1).flags, 0);
    EXPECT_EQ(table.at(1).score, 1);
    EXPECT_EQ(table.at(1).time, 4);
    EXPECT_EQ(table.at(2).score, 6);
    EXPECT_EQ(table.at(2).time, 0); // the line ran out of numbers
}

TEST(ReadRecordFile, ATokenOfOtherWhiteSpaceTakesTheNumberAfterIt) {
    // strtoll skips a tab and the spaces after it, so the number of the
    // token "\t" is the next token's.
    const MoveTable table = read_table(record_text({"e2e4 \t 5 6 7 e7e5 \v-3x 8 \f 9 1"}));
    ASSERT_EQ(table.count(), 2);
    const HalfMove& white = table.at(1);
    EXPECT_EQ(white.score, 5);
    EXPECT_EQ(white.number2, 5);
    EXPECT_EQ(white.number3, 6);
    EXPECT_EQ(white.time, 7);
    const HalfMove& black = table.at(2);
    EXPECT_EQ(black.move, decode_move_text("e7e5", BLACK).move);
    EXPECT_EQ(black.score, -3);
    EXPECT_EQ(black.number2, 8);
    EXPECT_EQ(black.number3, 9);
    EXPECT_EQ(black.time, 9);
}

TEST(ReadRecordFile, ReadsBothHalfMovesOfAMoveLine) {
    const MoveTable table = read_table(record_text({"e2e4 12 3 4567 8 e7e5 -5 3 3456 7"}));
    ASSERT_EQ(table.count(), 2);
    const HalfMove& white = table.at(1);
    EXPECT_EQ(white.move, 0x0C1C);
    EXPECT_EQ(white.score, 12);
    EXPECT_EQ(white.number2, 3);
    EXPECT_EQ(white.number3, 4567);
    EXPECT_EQ(white.time, 8);
    const HalfMove& black = table.at(2);
    EXPECT_EQ(black.move, 0x3424);
    EXPECT_EQ(black.score, -5);
    EXPECT_EQ(black.time, 7);
    EXPECT_TRUE(table.invalid_texts.empty());
}

TEST(ReadRecordFile, NumbersKeepTheirFullValue) {
    const MoveTable table = read_table(
        record_text({"e2e4 40000 -70000 5000000000 99999999999 e7e5 -40000 1 2 99999999999999999999"}));
    EXPECT_EQ(table.at(1).score, 40000);
    EXPECT_EQ(table.at(1).number2, -70000);
    EXPECT_EQ(table.at(1).number3, 5000000000LL);
    EXPECT_EQ(table.at(1).time, 99999999999LL);
    EXPECT_EQ(table.at(2).score, -40000);
    EXPECT_EQ(table.at(2).time, LLONG_MAX);
}

TEST(ReadRecordFile, RecordsWithoutMoveLinesAreEmpty) {
    EXPECT_EQ(read_table("").count(), 0);
    EXPECT_EQ(read_table("only one header\n").count(), 0);
    EXPECT_EQ(read_table("header\nheader\n").count(), 0);
    EXPECT_EQ(read_table("header\nheader").count(), 0);
}

TEST(ReadRecordFile, HeaderLinesAreNotInspected) {
    const std::string long_header(5000, 'x');
    const MoveTable table =
        read_table(long_header + "\ne2e4 1 2 3 4 e7e5 5 6 7 8\nd2d4 1 1 1 1 d7d5 1 1 1 1\n");
    ASSERT_EQ(table.count(), 2);
    EXPECT_EQ(table.at(1).move, 0x0B1B);
    EXPECT_EQ(format_move(from_square(table.at(1).move), to_square(table.at(1).move)), "d2d4");
}

TEST(ReadRecordFile, EmptyLineEndsTheRecord) {
    const MoveTable table = read_table(record_text({"e2e4 1 1 1 1 e7e5 1 1 1 1",
                                                    "g1f3 1 1 1 1 b8c6 1 1 1 1",
                                                    "f1c4 1 1 1 1 g8f6 1 1 1 1", "",
                                                    "d2d4 1 1 1 1 d7d5 1 1 1 1"}));
    EXPECT_EQ(table.count(), 6);
}

TEST(ReadRecordFile, LineOfSpacesOrCarriageReturnEndsTheRecord) {
    for (const char* end : {"   ", "\r", "  \r"}) {
        SCOPED_TRACE(testing::PrintToString(end));
        const MoveTable table =
            read_table(record_text({"e2e4 1 1 1 1 e7e5 1 1 1 1", end, "d2d4 1 1 1 1 d7d5 1 1 1 1"}));
        EXPECT_EQ(table.count(), 2);
    }
}

TEST(ReadRecordFile, CarriageReturnsBeforeNewlinesAreNotPartOfTokens) {
    // With the carriage return taken as black's move text the last line
    // would carry two half-moves, the second invalid.
    const MoveTable table = read_table("h1\r\nh2\r\ne2e4 1 2 3 4 e7e5 5 6 7 8\r\ng1f3 9 9 9 11\r\n");
    ASSERT_EQ(table.count(), 3);
    EXPECT_EQ(table.at(2).time, 8);
    EXPECT_EQ(table.at(3).time, 11);
    EXPECT_TRUE(table.invalid_texts.empty());
}

TEST(ReadRecordFile, SpacesBeforeAndBetweenTokensAreSkipped) {
    const MoveTable plain = read_table(record_text({"e2e4 12 3 4567 8 e7e5 -5 3 3456 7"}));
    const MoveTable spaced = read_table(record_text({"    e2e4   12 3  4567 8     e7e5 -5   3 3456    7   "}));
    ASSERT_EQ(spaced.count(), 2);
    for (int i = 1; i <= 2; ++i) {
        EXPECT_EQ(spaced.at(i).move, plain.at(i).move);
        EXPECT_EQ(spaced.at(i).score, plain.at(i).score);
        EXPECT_EQ(spaced.at(i).time, plain.at(i).time);
    }
}

TEST(ReadRecordFile, LongLinesAreReadWhole) {
    // Longer than the buffer a stream's lines are first read into.
    const std::string gap(5000, ' ');
    const std::string text =
        record_text({"e2e4 1 2 3 4" + gap + "e7e5 5 6 7 8", "g1f3" + gap + "9 9 9 10 b8c6 1 1 1 1"});
    for (const MoveTable& table : {read_table(text), read_table_from_stream(text)}) {
        ASSERT_EQ(table.count(), 4);
        EXPECT_EQ(table.at(2).move, 0x3424);
        EXPECT_EQ(table.at(2).time, 8);
        EXPECT_EQ(table.at(3).time, 10);
        EXPECT_TRUE(table.invalid_texts.empty());
    }
}

TEST(ReadRecordFile, CastlingWordsTakeTheColourOfTheirColumn) {
    const MoveTable table = read_table(record_text({"o-o 1 1 1 1 o-o-o 1 1 1 1", "o-o-o 1 1 1 1 o-o 1 1 1 1"}));
    ASSERT_EQ(table.count(), 4);
    EXPECT_EQ(table.at(1).move, WHITE_KING_SIDE);
    EXPECT_EQ(table.at(2).move, BLACK_QUEEN_SIDE);
    EXPECT_EQ(table.at(3).move, WHITE_QUEEN_SIDE);
    EXPECT_EQ(table.at(4).move, BLACK_KING_SIDE);
}

TEST(ReadRecordFile, LastLineWithoutNewlineIsRead) {
    const MoveTable table = read_table("h1\nh2\ne2e4 1 2 3 4 e7e5 5 6 7 8");
    ASSERT_EQ(table.count(), 2);
    EXPECT_EQ(table.at(2).time, 8);
}

TEST(ReadRecordFile, GameEndingWithWhitesMoveHasAnOddCount) {
    const MoveTable table = read_table(record_text({"e2e4 1 1 1 1 e7e5 1 1 1 1", "d1h5 3 3 3 3"}));
    ASSERT_EQ(table.count(), 3);
    EXPECT_EQ(table.at(3).time, 3);
    EXPECT_TRUE(table.invalid_texts.empty());
}

TEST(ReadRecordFile, MissingBlackMoveInsideTheRecordIsInvalid) {
    const MoveTable table = read_table(record_text({"e2e4 1 1 1 1", "g1f3 2 2 2 2 b8c6 3 3 3 3"}));
    ASSERT_EQ(table.count(), 4);
    EXPECT_TRUE(table.at(2).flags & INVALID_BIT);
    EXPECT_EQ(table.invalid_texts, (std::vector<InvalidText>{{2, ""}}));
    EXPECT_EQ(table.at(3).move, 0x0615);
    EXPECT_EQ(table.at(4).time, 3);
}

TEST(ReadRecordFile, ShortLinesReadMissingNumbersAsZero) {
    const MoveTable table = read_table(record_text({"e2e4 12 e7e5", "d2d4"}));
    // e7e5 stands where the second number belongs; black's text is absent.
    ASSERT_EQ(table.count(), 3);
    EXPECT_EQ(table.at(1).score, 12);
    EXPECT_EQ(table.at(1).time, 0);
    EXPECT_TRUE(table.at(2).flags & INVALID_BIT);
}

TEST(ReadRecordFile, InvalidMoveTextIsKeptAsWritten) {
    const MoveTable table = read_table(record_text({"Nf3 1 1 1 1 e7e5 1 1 1 1"}));
    ASSERT_EQ(table.count(), 2);
    EXPECT_TRUE(table.at(1).flags & INVALID_BIT);
    EXPECT_EQ(table.invalid_texts, (std::vector<InvalidText>{{1, "Nf3"}}));
    EXPECT_EQ(move_text_of(table, 1), "Nf3");
    EXPECT_EQ(move_text_of(table, 2), "e7e5");
}

TEST(InvalidTexts, StayInOrderOfIndexWhereverTheyAreAdded) {
    MoveTable table;
    for (const std::int64_t index : {3, 9, 5, 1, 12, 5})
        add_invalid_text(table.invalid_texts, index, "t" + std::to_string(index));
    const std::vector<InvalidText> expected = {{1, "t1"}, {3, "t3"}, {5, "t5"}, {9, "t9"}, {12, "t12"}};
    EXPECT_EQ(table.invalid_texts, expected);
    add_invalid_text(table.invalid_texts, 9, "again");
    EXPECT_EQ(table.invalid_texts, expected);
    table.half_moves.resize(12);
    EXPECT_EQ(invalid_text_of(table, 9), "t9");
    EXPECT_EQ(invalid_text_of(table, 12), "t12");
    EXPECT_EQ(invalid_text_of(table, 4), "");
    EXPECT_EQ(invalid_text_of(table, 13), "");
}

TEST(ReadRecordFile, NulBytesInsideTokensAreKept) {
    constexpr char raw[] = "e2\0e4 1 1 1 1 e7e5 7\0""9 1 1 1";
    const std::string line(raw, sizeof raw - 1);
    const MoveTable table = read_table(record_text({line}));
    ASSERT_EQ(table.count(), 2);
    EXPECT_EQ(invalid_text_of(table, 1), std::string_view("e2\0e4", 5));
    EXPECT_EQ(move_text_of(table, 1), "e2?e4");
    EXPECT_EQ(table.at(2).score, 7);
}

TEST(ReadRecordFile, HasNoLimitOnTheNumberOfMoves) {
    std::vector<std::string> lines(1000, "g1f3 1 1 1 1 g8f6 1 1 1 1");
    for (std::size_t n = 1; n < lines.size(); n += 2)
        lines[n] = "f3g1 1 1 1 1 f6g8 1 1 1 1";
    const MoveTable table = read_table(record_text(lines));
    ASSERT_EQ(table.count(), 2000);
    EXPECT_EQ(move_text_of(table, 2000), "f6g8");
}

TEST(ReadRecordFile, ReportsAFailedRead) {
    std::FILE* directory = std::fopen("/", "r");
    ASSERT_NE(directory, nullptr);
    MoveTable table;
    EXPECT_EQ(read_record_file(directory, table), EISDIR);
    std::fclose(directory);
}

} // namespace
} // namespace tavrik

// Reading PGN: the syntax of games and the numbers in their comments.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "pgn/pgn.h"

namespace tavrik {
namespace {

std::vector<PgnGame> read_games(const std::string& text, bool keep_moves = true) {
    std::FILE* file = std::tmpfile();
    std::fwrite(text.data(), 1, text.size(), file);
    std::rewind(file);
    PgnReader reader(file);
    std::vector<PgnGame> games;
    PgnGame game;
    while (reader.next_game(game, keep_moves))
        games.push_back(game);
    EXPECT_EQ(reader.error(), 0);
    std::fclose(file);
    return games;
}

std::vector<std::string> texts_of(const PgnGame& game) {
    std::vector<std::string> texts;
    for (const PgnMove& move : game.moves)
        texts.push_back(move.text);
    return texts;
}

CommentValues values_of(const std::string& comment) {
    CommentValues values;
    read_comment_values(comment, values);
    return values;
}

TEST(PgnReader, ReadsTagsMovesAndResultOfEveryGame) {
    const std::vector<PgnGame> games = read_games(
        "[Event \"Club \\\"open\\\"\"]\n[White \"Anna\"]\n[Black \"Boris\"]\n\n"
        "1. e4 e5 2.Nf3 Nc6 3... a6 1-0\n\n"
        "[Event \"Second\"]\n\n1. d4 d5 1/2-1/2\n"
        "[Event \"Third\"]\n1. c4 *\n");
    ASSERT_EQ(games.size(), 3U);
    EXPECT_EQ(games[0].number, 1);
    EXPECT_EQ(tag_value(games[0], "Event"), "Club \"open\"");
    EXPECT_EQ(players_of(games[0]), "Anna - Boris");
    EXPECT_EQ(tag_value(games[1], "White"), "?");
    EXPECT_EQ(texts_of(games[0]), (std::vector<std::string>{"e4", "e5", "Nf3", "Nc6", "a6"}));
    EXPECT_EQ(games[0].result, "1-0");
    EXPECT_EQ(games[1].result, "1/2-1/2");
    EXPECT_EQ(games[2].result, "*");
    EXPECT_EQ(games[2].number, 3);
    for (const PgnGame& game : games)
        EXPECT_EQ(game.damage, "");
}

TEST(PgnReader, SkipsVariationsNagsEscapesAndComments) {
    const std::vector<PgnGame> games = read_games(
        "\xEF\xBB\xBF[Event \"x\"]\r\n\r\n"
        "% an escape line 1. h4\r\n"
        "{before the moves} 1. e4 $1 {a (comment) with ) in it} e5!? (1... c5 (1... e6 2. d4)\r\n"
        " {a comment in a variation)} 2. Nf3) 2. Nf3 ; to the end of the line ( not a variation\r\n"
        "Nc6 $14 3. O-O-O 0-0 4. exd8=Q+ e8Q# 1-0\r\n");
    ASSERT_EQ(games.size(), 1U);
    EXPECT_EQ(tag_value(games[0], "Event"), "x");
    EXPECT_EQ(texts_of(games[0]), (std::vector<std::string>{"e4", "e5!?", "Nf3", "Nc6", "O-O-O",
                                                            "0-0", "exd8=Q+", "e8Q#"}));
    EXPECT_EQ(games[0].damage, "");
}

TEST(PgnReader, GameWithoutResultEndsAtTheNextTagsOrTheEnd) {
    const std::vector<PgnGame> games =
        read_games("[Event \"a\"]\n1. e4 e5\n[Event \"b\"]\n1. d4\n");
    ASSERT_EQ(games.size(), 2U);
    EXPECT_EQ(texts_of(games[0]), (std::vector<std::string>{"e4", "e5"}));
    EXPECT_EQ(games[0].result, "");
    EXPECT_EQ(tag_value(games[1], "Event"), "b");
    EXPECT_EQ(texts_of(games[1]), (std::vector<std::string>{"d4"}));
}

TEST(PgnReader, DamageIsToldAndNeverSwallowsTheNextGame) {
    const std::vector<PgnGame> comment = read_games(
        "[Event \"a\"]\n1. e4 {never closed\n2. d4\n[Event \"b\"]\n1. d4 *\n");
    ASSERT_EQ(comment.size(), 2U);
    EXPECT_EQ(comment[0].damage, "unclosed comment");
    EXPECT_EQ(texts_of(comment[0]), (std::vector<std::string>{"e4"}));
    EXPECT_EQ(tag_value(comment[1], "Event"), "b");
    EXPECT_EQ(texts_of(comment[1]), (std::vector<std::string>{"d4"}));

    const std::vector<PgnGame> variation =
        read_games("[Event \"a\"]\n1. e4 (1. d4 d5\n[Event \"b\"]\n1. c4 *\n");
    ASSERT_EQ(variation.size(), 2U);
    EXPECT_EQ(variation[0].damage, "unclosed variation");
    EXPECT_EQ(tag_value(variation[1], "Event"), "b");

    const std::vector<PgnGame> bracket = read_games(
        "[Event \"a\"\n[White \"w\"]\n\n1. e4 e5 *\n\n[Event \"b\"]\n1. c4 *\n");
    ASSERT_EQ(bracket.size(), 2U);
    EXPECT_EQ(bracket[0].damage, "missing ']' in tag pair in [Event \"a\"");
    EXPECT_TRUE(bracket[0].moves.empty());
    EXPECT_EQ(tag_value(bracket[1], "Event"), "b");
    EXPECT_EQ(texts_of(bracket[1]), (std::vector<std::string>{"c4"}));

    EXPECT_EQ(read_games("[Event \"a]\n")[0].damage.rfind("unclosed string in tag pair", 0), 0U);
    EXPECT_EQ(read_games("[ \"a\"]\n")[0].damage.rfind("tag pair without a name", 0), 0U);
    EXPECT_EQ(read_games("[Event a]\n")[0].damage.rfind("tag pair without a quoted value", 0), 0U);
    // A comment may hold a '[' at the start of a line when no tag follows.
    const std::vector<PgnGame> clock = read_games("1. e4 {\n[%clk 0:01:00]} e5 *\n");
    ASSERT_EQ(clock.size(), 1U);
    EXPECT_EQ(clock[0].damage, "");
    EXPECT_EQ(clock[0].moves[0].values.clock_ms, 60000);
}

TEST(PgnReader, NothingButSpaceOrCommentsHoldsNoGame) {
    EXPECT_TRUE(read_games("").empty());
    EXPECT_TRUE(read_games("\n\n  \r\n").empty());
    EXPECT_TRUE(read_games("{just a comment}\n% escape\n").empty());
    // Movetext alone is a game, even without tags.
    EXPECT_EQ(read_games("1. e4 e5").size(), 1U);
}

TEST(PgnReader, CountsGamesWithoutKeepingTheirMoves) {
    const std::vector<PgnGame> games = read_games("1. e4 *\n1. d4 *\n1. c4 {x} *\n", false);
    ASSERT_EQ(games.size(), 3U);
    EXPECT_TRUE(games[2].moves.empty());
    EXPECT_EQ(games[2].number, 3);
}

TEST(PgnReader, CommentsAfterAMoveGiveItsValuesFirstOneCounting) {
    const std::vector<PgnGame> games = read_games(
        "1. e4 $1 {+0.35/18 1.234s} {-9.99/30 9s n=5} e5 !\n"
        "{[%eval -0.5,12]\n[%clk 0:04:58.3]} ; [%eval 3.00]\n2. Nf3 *");
    ASSERT_EQ(games.size(), 1U);
    const CommentValues& white = games[0].moves[0].values;
    EXPECT_EQ(white.score, 35);
    EXPECT_FALSE(white.score_from_white);
    EXPECT_EQ(white.depth, 18);
    EXPECT_EQ(white.spent_ms, 1234);
    EXPECT_EQ(white.nodes, 5); // the first comment gave none
    const CommentValues& black = games[0].moves[1].values;
    EXPECT_EQ(black.score, -50);
    EXPECT_TRUE(black.score_from_white);
    EXPECT_EQ(black.depth, 12);
    EXPECT_EQ(black.clock_ms, 298300);
    EXPECT_FALSE(games[0].moves[2].values.score);
}

TEST(CommentValues, EngineMatchForms) {
    const CommentValues plain = values_of("+0.35/18 1.234s");
    EXPECT_EQ(plain.score, 35);
    EXPECT_EQ(plain.depth, 18);
    EXPECT_EQ(plain.spent_ms, 1234);
    EXPECT_FALSE(plain.nodes);
    EXPECT_EQ(values_of("+0.35/18 1.234s n=6644039").nodes, 6644039);
    EXPECT_EQ(values_of("-M3/20 0.5s").score, -(MATE_SCORE - 3));
    EXPECT_EQ(values_of("+M1/1 0.001s").score, MATE_SCORE - 1);
    EXPECT_EQ(values_of("+M1/1 0.001s").spent_ms, 1);
    EXPECT_EQ(values_of("-12.345/40 12s, White wins").score, -1235);
    EXPECT_EQ(values_of(" 0.00/5 0s").score, 0);
    EXPECT_EQ(values_of("-0.07/9").spent_ms, std::nullopt);
    for (const char* other : {"book", "", "1. e4 is best", "+0.35 1.2s", "M/3", "+0.35/ 1s"}) {
        const CommentValues none = values_of(other);
        EXPECT_FALSE(none.score || none.depth || none.spent_ms || none.nodes) << other;
    }
}

TEST(CommentValues, ServerForms) {
    EXPECT_EQ(values_of("[%eval 0.35]").score, 35);
    EXPECT_TRUE(values_of("[%eval 0.35]").score_from_white);
    const CommentValues deep = values_of("[%eval -1.20,18]");
    EXPECT_EQ(deep.score, -120);
    EXPECT_EQ(deep.depth, 18);
    EXPECT_EQ(values_of("[%eval #3]").score, MATE_SCORE - 3);
    EXPECT_EQ(values_of("[%eval #-3]").score, -(MATE_SCORE - 3));
    EXPECT_EQ(values_of("[%clk 0:04:58]").clock_ms, 298000);
    EXPECT_EQ(values_of("[%clk 1:02:03.25]").clock_ms, 3723250);
    EXPECT_EQ(values_of("[%emt 0:00:01.5]").spent_ms, 1500);
    EXPECT_EQ(values_of("text [%evalx 3] [%eval]").score, std::nullopt);
    EXPECT_EQ(values_of("[%clk]").clock_ms, std::nullopt);
    // Absurd clocks are capped, not overflowed (a fuzzer's finding).
    EXPECT_GT(values_of("[%clk 3600000000000000000:0:0]").clock_ms, 0);
    EXPECT_GT(values_of("[%emt 999999999999999999:59:59.999]").spent_ms, 0);
    // An engine comment before a server's value comes first.
    EXPECT_EQ(values_of("+1.00/10 2s [%eval -3.00] [%emt 0:00:05]").score, 100);
    EXPECT_EQ(values_of("+1.00/10 2s [%eval -3.00] [%emt 0:00:05]").spent_ms, 2000);
}

TEST(HalfMoveNumbers, ScoreFromTheMoversViewAndTimeFromTheClock) {
    Clocks clocks = clocks_at_start(parse_time_control("300+2"));
    HalfMove white;
    HalfMove black;
    fill_numbers(values_of("[%eval 0.50,20] [%clk 0:04:58]"), WHITE, clocks, white);
    fill_numbers(values_of("[%eval 0.50] [%clk 0:04:55]"), BLACK, clocks, black);
    EXPECT_EQ(white.score, 50);
    EXPECT_EQ(white.number2, 20);
    EXPECT_EQ(black.score, -50);
    EXPECT_EQ(white.time, 4000); // 300 s - 298 s + 2 s
    EXPECT_EQ(black.time, 7000);
    fill_numbers(values_of("[%clk 0:04:59] [%emt 0:00:00.4]"), WHITE, clocks, white);
    EXPECT_EQ(white.time, 400); // %emt wins
    fill_numbers(values_of("[%clk 0:05:10]"), WHITE, clocks, white);
    EXPECT_EQ(white.time, 0); // never negative
    fill_numbers(values_of("-M2/9 1s"), BLACK, clocks, black);
    EXPECT_EQ(black.score, -(MATE_SCORE - 2)); // engine comments are the mover's view
    fill_numbers(values_of("{}"), BLACK, clocks, black);
    EXPECT_EQ(black.score, 0);
    EXPECT_EQ(black.time, 0);
}

TEST(HalfMoveNumbers, FirstMoveCountsFromTheBaseTimeOnlyWhenKnown) {
    EXPECT_EQ(parse_time_control("300+2").base_ms, 300000);
    EXPECT_EQ(parse_time_control("300+2").increment_ms, 2000);
    EXPECT_EQ(parse_time_control("60").base_ms, 60000);
    for (const char* other : {"?", "-", "40/7200:3600", "300+", "+2", "300+2x"}) {
        EXPECT_FALSE(parse_time_control(other).base_ms) << other;
        EXPECT_EQ(parse_time_control(other).increment_ms, 0) << other;
    }
    Clocks clocks = clocks_at_start(parse_time_control("?"));
    HalfMove first;
    fill_numbers(values_of("[%clk 0:04:58]"), WHITE, clocks, first);
    EXPECT_EQ(first.time, 0);
    HalfMove second;
    fill_numbers(values_of("[%clk 0:04:50]"), WHITE, clocks, second);
    EXPECT_EQ(second.time, 8000);
}

// What an annotated game keeps besides its moves: marks written both
// ways, NAGs, the words of comments, nested variations with theirs.
TEST(PgnReader, KeepsMarksCommentsAndVariationsAsWritten) {
    const std::vector<PgnGame> games = read_games(
        "{Before [%evp 1,2] the moves}\n"
        "1. e4! $14 {A [%clk 0:01:00] good\n  move} {+0.35/18 1.2s and more} e5 ?! $200 $999\n"
        "(1... c5 {Sicilian} 2. Nf3 (2. c3 d5 $1) (; to the end\n2. Nc3) d6 {then} (2... e6)) "
        "2. Nf3 *\n");
    ASSERT_EQ(games.size(), 1U);
    const PgnGame& game = games[0];
    EXPECT_EQ(game.comment, "Before the moves");
    ASSERT_EQ(game.moves.size(), 3U);
    EXPECT_EQ(game.moves[0].text, "e4!");
    EXPECT_EQ(game.moves[0].nags, (std::vector<std::uint8_t>{1, 14}));
    EXPECT_EQ(game.moves[0].comment, "A good move and more");
    EXPECT_EQ(game.moves[0].values.clock_ms, 60000);
    EXPECT_EQ(game.moves[1].nags, (std::vector<std::uint8_t>{6, 200}));
    ASSERT_EQ(game.moves[1].variations.size(), 1U);
    const PgnVariation& sicilian = game.variations[game.moves[1].variations[0]];
    ASSERT_EQ(sicilian.moves.size(), 3U);
    ASSERT_EQ(sicilian.moves[1].variations.size(), 2U);
    EXPECT_EQ(game.variations[sicilian.moves[1].variations[1]].comment, "to the end");
    EXPECT_EQ(game.variations.size(), 4U);
    EXPECT_EQ(variation_text(game.variations, game.moves[1].variations[0], 2),
              "1... c5 Sicilian 2. Nf3 (2. c3 d5!) (to the end 2. Nc3) 2... d6 then (2... e6)");
    // Marks print once, glued; a judgement after a space.
    std::vector<PgnVariation> marked(1);
    marked[0].moves.push_back({"Nf3!?", {}, {5, 14, 1, 16}, "", {}, {}});
    marked[0].moves.push_back({"e5", {}, {}, "", {}, {}});
    EXPECT_EQ(variation_text(marked, 0, 5), "3. Nf3!? += e5");
    EXPECT_EQ(nag_text(13), "~");
    EXPECT_EQ(nag_text(19), "-+");
    EXPECT_EQ(nag_text(7), "");

    // Without annotations, as tavrik-analyse reads: the moves and numbers.
    std::FILE* file = std::tmpfile();
    const std::string text = "{x} 1. e4 $1 {y [%clk 0:00:10]} (1. d4 d5) e5 *\n";
    std::fwrite(text.data(), 1, text.size(), file);
    std::rewind(file);
    PgnReader plain(file);
    plain.keep_annotations(false);
    PgnGame bare;
    ASSERT_TRUE(plain.next_game(bare));
    EXPECT_EQ(texts_of(bare), (std::vector<std::string>{"e4", "e5"}));
    EXPECT_EQ(bare.comment, "");
    EXPECT_TRUE(bare.moves[0].nags.empty() && bare.moves[0].comment.empty() && bare.moves[0].variations.empty());
    EXPECT_EQ(bare.moves[0].values.clock_ms, 10000);
    std::fclose(file);
}

TEST(PgnReader, DeepVariationsAndLongCommentsAreReadWhole) {
    std::string nested = "1. e4 ";
    for (int k = 0; k < 200; ++k)
        nested += "(1. d4 ";
    nested += std::string(200, ')') + " e5 {" + std::string(100000, 'w') + " end} *\n";
    const std::vector<PgnGame> games = read_games(nested);
    ASSERT_EQ(games.size(), 1U);
    EXPECT_EQ(games[0].damage, "");
    EXPECT_EQ(texts_of(games[0]), (std::vector<std::string>{"e4", "e5"}));
    EXPECT_EQ(games[0].moves[1].comment.size(), 100004U);
}

} // namespace
} // namespace tavrik

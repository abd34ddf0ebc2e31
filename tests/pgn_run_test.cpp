// Whole runs over PGN files: booklets, single games, records made from
// PGN, and the PGN that users get wrong.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "run/run.h"
#include "support.h"

namespace tavrik {
namespace {

using test::lines_of;
using test::read_file;
using test::record_text;
using test::run_args_in_process;
using test::run_command;
using test::run_program;
using test::RunResult;
using test::TempFile;

const std::string SOURCE = TAVRIK_SOURCE_DIR;

std::vector<std::string> lines_starting(const std::string& text, const std::string& prefix) {
    std::vector<std::string> found;
    for (const std::string& line : lines_of(text))
        if (line.rfind(prefix, 0) == 0)
            found.push_back(line);
    return found;
}

const std::string TWO_GAMES =
    "[Event \"Club\"]\n[Date \"2026.12.01\"]\n[White \"Anna\"]\n[Black \"Boris\"]\n"
    "[Result \"0-1\"]\n[TimeControl \"60+1\"]\n\n"
    "1. e4 {+0.35/18 1.234s} e5 {[%eval 0.20] [%clk 0:00:58]} 0-1\n\n"
    "[Event \"Club\"]\n[White \"Boris\"]\n[Black \"Anna\"]\n\n1. d4 *\n";

TEST(PgnRun, WritesEachGameOnItsOwnPagesUnderItsTitle) {
    const RunResult result = run_args_in_process(TWO_GAMES, {"--pgn", "-"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out,
              "/V 11 72 mul def /L 60 def\n"
              "(Anna) (Boris) (Club, 2026.12.01, 0-1) T\n"
              "L V moveto\n12 28 M\n1 false 35 true 1234 E\nR (1. e4 +0.35 0:01) show\nL  V 100 sub moveto\n"
              "C ('#[rnbqkbnr;pppppppp;        ;        ;    P   ;        ;PPPP PPP;RNBQKBNR;]') show\n"
              "/L 160 L add def\n"
              "L V moveto\n52 36 M\n1 true 20 true 3000 E\nR (1... e5 +0.20 0:03) show\nL  V 100 sub moveto\n"
              "C ('#[rnbqkbnr;pppp ppp;        ;    p   ;    P   ;        ;PPPP PPP;RNBQKBNR;]') show\n"
              "/L 160 L add def\n"
              "showpage\n/V 11 72 mul def\n/L 60 def\n"
              "(Boris) (Anna) (Club, ?, *) T\n"
              "L V moveto\n11 27 M\n1 false 0 false 0 E\nR (1. d4) show\nL  V 100 sub moveto\n"
              "C ('#[rnbqkbnr;pppppppp;        ;        ;   P    ;        ;PPP PPPP;RNBQKBNR;]') show\n"
              "/L 160 L add def\n"
              "showpage\n");
}

TEST(PgnRun, ChoosesAGameAndCountsMovesAsTheGameDoes) {
    const RunResult second = run_args_in_process(TWO_GAMES, {"--pgn", "--game", "2", "-"});
    EXPECT_EQ(second.status, 0);
    EXPECT_EQ(lines_starting(second.out, "R ("), (std::vector<std::string>{"R (1. d4) show"}));
    EXPECT_EQ(lines_starting(second.out, "("), (std::vector<std::string>{"(Boris) (Anna) (Club, ?, *) T"}));

    // Set up at black's move 40; the range counts from there.
    const std::string fen_game =
        "[White \"A\"]\n[Black \"B\"]\n[SetUp \"1\"]\n[FEN \"8/8/4k3/8/8/4K3/8/8 b - - 0 40\"]\n\n"
        "40... Kd6 41. Kd4 Ke6 42. Ke4 *\n";
    const RunResult whole = run_args_in_process(fen_game, {"--pgn", "-"});
    EXPECT_EQ(whole.status, 0);
    EXPECT_EQ(lines_starting(whole.out, "R ("),
              (std::vector<std::string>{"R (40... Kd6) show", "R (41. Kd4) show", "R (41... Ke6) show",
                                        "R (42. Ke4) show"}));
    EXPECT_NE(whole.out.find("C ('#[        ;        ;   k    ;"), std::string::npos);
    const RunResult range = run_args_in_process(fen_game, {"--pgn", "-", "41", "42"});
    EXPECT_EQ(lines_starting(range.out, "R ("),
              (std::vector<std::string>{"R (41. Kd4) show", "R (41... Ke6) show"}));
}

TEST(PgnRun, TitlesAreLatin1PostScriptStrings) {
    const RunResult result = run_args_in_process(
        "[White \"P\xC3\xA9rez (Jr.)\"]\n[Black \"\xE4\xB8\xAD \\\\ x\"]\n[Event \"a\tb\"]\n\n1. e4 *\n",
        {"--pgn", "-"});
    EXPECT_EQ(lines_starting(result.out, "("),
              (std::vector<std::string>{"(P\\351rez \\(Jr.\\)) (? \\\\ x) (a b, ?, *) T"}));
}

TEST(PgnRun, RecordFromPgnPrintsTheSameBoardsScoresAndTimes) {
    const TempFile pgn(TWO_GAMES, ".pgn");
    const RunResult record = run_program({"--to-record", "--game", "1", pgn.path()});
    EXPECT_EQ(record.status, 0);
    EXPECT_EQ(record.out, "Anna - Boris, Club, 2026.12.01\n0-1\ne2e4 35 18 0 1234 e7e5 -20 0 0 3000\n");

    const TempFile as_record(record.out);
    const RunResult from_record = run_program({as_record.path()});
    const RunResult from_pgn = run_program({"--game", "1", pgn.path()});
    EXPECT_EQ(lines_starting(from_record.out, "C ("), lines_starting(from_pgn.out, "C ("));
    // The record's captions give the score from the mover's view; the
    // PGN's numbers, apart from its captions, give it from white's.
    std::vector<std::string> recorded;
    for (const std::string& caption : lines_starting(from_record.out, "R (")) {
        std::istringstream words(caption.substr(caption.find(" score ") + 7));
        long long score = 0;
        long long time = 0;
        std::string word;
        words >> score >> word >> time;
        recorded.push_back(std::to_string(caption.find(" ... ") == std::string::npos ? score : -score) + " " +
                           std::to_string(time));
    }
    std::vector<std::string> given;
    for (const std::string& line : lines_of(from_pgn.out))
        if (line.ends_with(" E")) {
            std::istringstream words(line);
            std::array<std::string, 5> word;
            for (std::string& w : word)
                words >> w;
            given.push_back(word[2].append(" ").append(word[4]));
        }
    EXPECT_EQ(recorded, given);
    EXPECT_EQ(given.size(), 2U);

    // The sample game, whose record was made from its PGN before.
    const RunResult club =
        run_program({"--to-record", SOURCE + "/tests/data/club-match.pgn"});
    EXPECT_EQ(club.status, 0);
    const std::vector<std::string> made = lines_of(club.out);
    const std::vector<std::string> kept = lines_of(read_file(SOURCE + "/examples/club-match.rec"));
    ASSERT_EQ(made.size(), kept.size());
    for (std::size_t k = 2; k < made.size(); ++k) {
        std::istringstream made_words(made[k]);
        std::istringstream kept_words(kept[k]);
        std::string a;
        std::string b;
        for (int w = 0; made_words >> a && kept_words >> b; ++w) {
            // The move texts; the record's numbers were made up.
            if (w % 5 == 0) {
                EXPECT_EQ(a, b == "o-o" ? "e1g1" : b == "o-o-o" ? "e8c8" : b) << "line " << k;
            }
        }
    }
}

TEST(PgnRun, RecordNeedsOneGameFromTheStartingPosition) {
    const TempFile pgn(TWO_GAMES, ".pgn");
    const RunResult many = run_program({"--to-record", pgn.path()});
    EXPECT_EQ(many.status, 1);
    EXPECT_EQ(many.out, "");
    EXPECT_EQ(many.err, "tavrik: " + pgn.path() + ": the file holds 2 games; choose one with --game N\n");

    const RunResult set_up = run_args_in_process(
        "[SetUp \"1\"]\n[FEN \"4k3/8/8/8/8/8/8/4K3 w - - 0 1\"]\n\n1. Kd2 *\n", {"--to-record", "-"});
    EXPECT_EQ(set_up.status, 1);
    EXPECT_EQ(set_up.out, "");
    EXPECT_EQ(set_up.err, "tavrik: standard input: game 1 (? - ?): starts from a set-up position, "
                          "which a record cannot hold; print it as PGN\n");

    const RunResult broken = run_args_in_process("1. e4 e5 2. Ke3 *\n", {"--to-record", "-"});
    EXPECT_EQ(broken.status, 1);
    EXPECT_EQ(broken.out, "");
    EXPECT_EQ(broken.err, "tavrik: standard input: game 1 (? - ?): move 2 Ke3: no such legal move\n");
}

TEST(PgnRun, NullMovesRepeatThePositionWithoutAMark) {
    const std::string pgn = "[Variant \"Standard\"]\n\n1. e4 -- 2. Z0 (2. 0000 e5) e5 3. @@@@ Nc6 *\n";
    const RunResult result = run_args_in_process(pgn, {"--pgn", "-"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    const std::vector<std::string> lines = lines_of(result.out);
    const std::vector<std::string> boards = lines_starting(result.out, "C (");
    ASSERT_EQ(boards.size(), 6U);
    EXPECT_EQ(boards[1], boards[0]);
    EXPECT_EQ(boards[2], boards[0]);
    EXPECT_EQ(boards[4], boards[3]);
    EXPECT_EQ(lines_starting(result.out, "R (").at(1), "R (1... --) show");
    EXPECT_EQ(lines_starting(result.out, "R (").at(4), "R (3. --) show");
    // Each of the three null moves' captions follows its cell's move-to,
    // with no squares to mark between.
    EXPECT_EQ(lines_starting(result.out, "L V moveto").size(), 6U);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& line) { return line.ends_with(" M"); }),
              3);

    const RunResult record = run_args_in_process(pgn, {"--to-record", "-"});
    EXPECT_EQ(record.status, 1);
    EXPECT_EQ(record.out, "");
    EXPECT_EQ(record.err, "tavrik: standard input: game 1 (? - ?): has a null move, 1... --, which a record "
                          "cannot hold; print it as PGN\n");
}

TEST(PgnRun, Chess960GamesCastleByTheirRules) {
    // Kings on b1 and b8: white castles short across four files, black long
    // with the king one file; a move in coordinates; the variant by name
    // or by the FEN's rook files.
    const std::string moves = "1. O-O O-O-O 2. e4 e8h8 3. Kh1 *\n";
    const std::string fen = "rk2r3/pppppppp/8/8/8/8/PPPPPPPP/RK2R3 w ";
    for (const std::string& tags : {"[Variant \"Fischer Random\"]\n[FEN \"" + fen + "KQkq - 0 1\"]\n",
                                    "[FEN \"" + fen + "EAea - 0 1\"]\n"}) {
        const RunResult result = run_args_in_process(std::string(tags).append("[SetUp \"1\"]\n\n").append(moves),
                                                     {"--pgn", "-"});
        EXPECT_EQ(result.status, 0) << tags;
        EXPECT_EQ(result.err, "") << tags;
        const std::vector<std::string> boards = lines_starting(result.out, "C (");
        ASSERT_EQ(boards.size(), 5U) << tags;
        EXPECT_EQ(boards[1], "C ('#[  krr   ;pppppppp;        ;        ;        ;        ;PPPPPPPP;R    RK ;]') show");
        EXPECT_EQ(boards[4], "C ('#[  kr   r;pppppppp;        ;        ;    P   ;        ;PPPP PPP;R    R K;]') show");
        const std::vector<std::string> captions = lines_starting(result.out, "R (");
        EXPECT_EQ(captions[0], "R (1. O-O) show");
        EXPECT_EQ(captions[1], "R (1... O-O-O) show");
        EXPECT_EQ(captions[3], "R (2... Rh8) show");
    }
    // From the standard start, the king takes its own rook's square; a
    // record cannot hold that.
    const std::string start = "[Variant \"chess960\"]\n\n1. e4 e5 2. Nf3 Nf6 3. Bc4 Bc5 4. O-O *\n";
    const RunResult standard = run_args_in_process(start, {"--pgn", "-"});
    EXPECT_EQ(standard.status, 0);
    EXPECT_NE(standard.out.find("4 7 M\n4 false 0 false 0 E\nR (4. O-O) show"), std::string::npos) << standard.out;
    EXPECT_EQ(lines_starting(standard.out, "C (").back(),
              "C ('#[rnbqk  r;pppp ppp;     n  ;  b p   ;  B P   ;     N  ;PPPP PPP;RNBQ RK ;]') show");
    const RunResult record = run_args_in_process(start, {"--to-record", "-"});
    EXPECT_EQ(record.status, 1);
    EXPECT_EQ(record.err, "tavrik: standard input: game 1 (? - ?): is a Chess960 game, which a record cannot "
                          "hold; print it as PGN\n");
}

// Captions as players read them, from whichever source of numbers, and
// only what the game gives.
TEST(PgnRun, CaptionsReadAsABooksWithOnlyTheNumbersGiven) {
    const std::string pgn =
        "[TimeControl \"7200+5\"]\n\n"
        "1. e4 {+0.35/18 1.234s} e5 {+0.50/17 2.6s} 2. Nf3 {[%eval -1.20,20] [%clk 1:59:00]} "
        "Nc6 {[%eval 0.00] [%clk 0:59:05]} 3. Bb5 {+M3/20 0.4s} a6 {+M2/30 0.5s} "
        "4. Ba4 {[%eval #-3]} Nf6 {[%emt 0:00:00]} 5. O-O *\n";
    const RunResult result = run_args_in_process(pgn, {"--pgn", "-"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(lines_starting(result.out, "R ("),
              (std::vector<std::string>{"R (1. e4 +0.35 0:01) show", "R (1... e5 -0.50 0:03) show",
                                        "R (2. Nf3 -1.20 1:05) show", "R (2... Nc6 0.00 1:01:00) show",
                                        "R (3. Bb5 #3 0:00) show", "R (3... a6 #-2 0:01) show",
                                        "R (4. Ba4 #-3) show", "R (4... Nf6 0:00) show", "R (5. O-O) show"}));
    // The numbers beside, for the bars and the graph: known or not.
    std::vector<std::string> numbers;
    for (const std::string& line : lines_of(result.out))
        if (line.ends_with(" E"))
            numbers.push_back(line);
    EXPECT_EQ(numbers.at(3), "2 true 0 true 3660000 E");
    EXPECT_EQ(numbers.at(5), "3 true -99998 true 500 E");
    EXPECT_EQ(numbers.at(7), "4 true 0 false 0 E");
    EXPECT_EQ(evaluation_text(-5), "-0.05");
    EXPECT_EQ(duration_text(59'500), "1:00");
    EXPECT_EQ(duration_text(3'599'499), "59:59");
}

// A short comment under its board, a long one and the variations in the
// notes after the diagrams, and text that PostScript must take as text.
TEST(PgnRun, CommentsAndVariationsStandUnderTheBoardOrInTheNotes) {
    const std::string awful = "(unbalanced \\ back) slash ((";
    const std::string long_words = std::string(SHORT_COMMENT, 'x') + " and on";
    const std::string pgn = "[White \"J\xfcrgen\"]\n\n{" + awful + "} 1. e4 {Best by test} e5 $6 {" + long_words +
                            "} (1... c5 {Sicilian} (1... e6) 2. Nf3) 2. Nf3 (2. f4 exf4!) *\n";
    const RunResult result = run_args_in_process(pgn, {"--pgn", "-"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    const std::vector<std::string> lines = lines_of(result.out);
    const auto after = [&](const std::string& first) {
        const auto at = std::find(lines.begin(), lines.end(), first);
        return at == lines.end() ? std::vector<std::string>{} : std::vector<std::string>(at + 1, lines.end());
    };
    EXPECT_EQ(lines.at(1), "(J\\374rgen) (?) (?, ?, *) T");
    EXPECT_EQ(lines.at(2), "(\\(unbalanced \\\\ back\\) slash \\(\\() I");
    EXPECT_EQ(lines_starting(result.out, "(Best"), std::vector<std::string>{"(Best by test) U"});
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "(\\(see note 1\\)) U"), 1);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "(\\(see note 2\\)) U"), 1);
    EXPECT_EQ(after("Notes"),
              (std::vector<std::string>{"(1) (1... e5?!) NoteHead", "(" + long_words + ") NoteText",
                                        "(1... c5 Sicilian \\(1... e6\\) 2. Nf3) NoteText", "(2) (2. Nf3) NoteHead",
                                        "(2. f4 exf4!) NoteText", "showpage"}));
    // Only the drawn moves' notes; none at all, no notes page.
    const std::vector<std::string> later = lines_of(run_args_in_process(pgn, {"--pgn", "-", "2"}).out);
    EXPECT_EQ(std::count(later.begin(), later.end(), "(1) (2. Nf3) NoteHead"), 1);
    EXPECT_EQ(std::count(later.begin(), later.end(), "(1) (1... e5?!) NoteHead"), 0);
    EXPECT_EQ(run_args_in_process("1. e4 {short} *\n", {"--pgn", "-"}).out.find("Notes"), std::string::npos);
}

// A worksheet: the positions before the marked moves, in file order, by
// level and player, each from the side to move, and their answers.
TEST(Worksheet, ChoosesTheMarkedMovesAndAnswersThem) {
    const std::string games =
        "[White \"Anna\"]\n[Black \"Boris\"]\n\n"
        "1. e4 e5 2. Nf3 Nc6?! 3. Bc4 Nd4 $2 {[%eval 1.10]} (3... Bc5 {[%eval 0.30]}) 4. Nxe5 Qg5?? "
        "(4... Qe7 5. Nxf7 d5) 5. Nxf7 Qxg2 6. Rf1 $4 *\n\n"
        "[White \"Boris\"]\n[Black \"Anna\"]\n\n1. d4 d5 2. c4? dxc4 *\n";
    const auto tasks = [&](const std::vector<std::string>& options) {
        std::vector<std::string> args = {"--worksheet", "-"};
        args.insert(args.begin(), options.begin(), options.end());
        const RunResult result = run_args_in_process(games, args);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.err, "");
        return lines_starting(result.out, "R (");
    };
    EXPECT_EQ(tasks({}), (std::vector<std::string>{"R (1. Black to play) show", "R (2. Black to play) show",
                                                   "R (3. White to play) show", "R (4. White to play) show"}));
    EXPECT_EQ(tasks({"--level", "inaccuracy"}).size(), 5U);
    EXPECT_EQ(tasks({"--level=blunder"}).size(), 2U);
    EXPECT_EQ(tasks({"--player", "boris"}).size(), 3U); // his ? and ?? as black, his ? as white

    const RunResult sheet = run_args_in_process(games, {"--worksheet", "-"});
    const std::vector<std::string> lines = lines_of(sheet.out);
    // Black to play is seen from black's side, with no mark, bar or graph.
    EXPECT_EQ(lines.at(4), "true Flip");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "/EvalBars false def /GraphPages false def"), 1);
    EXPECT_TRUE(lines_starting(sheet.out, "12 28 M").empty());
    EXPECT_EQ(lines_starting(sheet.out, "(Game 2, move"),
              std::vector<std::string>{"(Game 2, move 2, Boris - Anna) U"});
    const auto notes = std::find(lines.begin(), lines.end(), "(Answers) NotesTop");
    ASSERT_NE(notes, lines.end());
    EXPECT_EQ(std::vector<std::string>(notes + 1, notes + 9),
              (std::vector<std::string>{
                  "(1. 3... Bc5 +0.30 \\(played 3... Nd4? +1.10\\)) NoteText",
                  "(2. 4... Qe7 \\(played 4... Qg5??\\)) NoteText",
                  "(3. No better move is given \\(played 6. Rf1??\\)) NoteText",
                  "(4. No better move is given \\(played 2. c4?\\)) NoteText",
                  "(Game 1, Anna \\(White\\): 0 inaccuracies, 0 mistakes, 1 blunder) NoteText",
                  "(Game 1, Boris \\(Black\\): 1 inaccuracy, 1 mistake, 1 blunder) NoteText",
                  "(Game 2, Boris \\(White\\): 0 inaccuracies, 1 mistake, 0 blunders) NoteText",
                  "(Game 2, Anna \\(Black\\): 0 inaccuracies, 0 mistakes, 0 blunders) NoteText"}));

    // Nothing marked: one page that says so, and success.
    const RunResult clean = run_args_in_process("1. e4 e5 *\n", {"--worksheet", "-"});
    EXPECT_EQ(clean.status, 0);
    EXPECT_NE(clean.out.find("(Worksheet) H\n(Nothing to solve) NotesTop\n"), std::string::npos) << clean.out;
    EXPECT_EQ(lines_starting(clean.out, "C (").size(), 0U);
    EXPECT_EQ(run_args_in_process(games, {"--worksheet", "-", "3"}).status, 1);
}

// Which side each game is seen from: a "Flip" line after its title with
// --player, one at the start with --flip, none without either.
TEST(PgnRun, PlayerAndFlipTurnTheGamesTheyName) {
    const auto views = [](const std::vector<std::string>& options) {
        std::vector<std::string> args = {"--pgn", "-"};
        args.insert(args.begin(), options.begin(), options.end());
        const RunResult result = run_args_in_process(TWO_GAMES, args);
        EXPECT_EQ(result.status, 0);
        std::string seen;
        for (const std::string& line : lines_of(result.out))
            if (line.ends_with(" Flip"))
                seen += line.substr(0, line.find(' ')) + " ";
        return seen;
    };
    EXPECT_EQ(views({}), "");
    EXPECT_EQ(views({"--flip"}), "true ");
    EXPECT_EQ(views({"--player", "BORIS"}), "true false ");
    EXPECT_EQ(views({"--player=ann", "--flip"}), "false true ");
    EXPECT_EQ(views({"--player", "Carla"}), "false false ");
    // A record's players are its first line's "White - Black".
    const std::string match = "Anna Ames - Boris Berg, Club, 2026.12.01\n1-0\ne2e4 1 1 1 1\n";
    EXPECT_EQ(run_args_in_process(match, {"--player", "berg", "-"}).out.find("\ntrue Flip\nL V moveto\n"),
              std::string("/V 11 72 mul def /L 60 def").size());
    for (const char* name : {"anna", "Club", "nobody"})
        EXPECT_EQ(run_args_in_process(match, {"--player", name, "-"}).out.find("true Flip"), std::string::npos)
            << name;
}

// PGN that users get wrong: the status, what is printed, and the message.
TEST(PgnRun, BadPgnIsReportedAndTheOtherGamesPrinted) {
    struct Case {
        const char* name;
        std::string pgn;
        std::vector<std::string> args;
        int diagrams;
        std::string message; // after "tavrik: standard input: "
    };
    const std::string game = "[White \"W\"]\n[Black \"B\"]\n\n1. e4 e5 2. Nf3 Nc6 *\n\n";
    const std::vector<Case> cases = {
        {"illegal move in the middle game of three",
         game + "[White \"X\"]\n[Black \"Y\"]\n\n1. e4 e5 2. Ke3 Nc6 *\n\n" + game, {}, 10,
         "game 2 (X - Y): move 2 Ke3: no such legal move\n"},
        {"ambiguous move", "1. Nf3 a6 2. Nc3 b6 3. Ng5 c6 4. Ne4 *\n", {}, 6,
         "game 1 (? - ?): move 4 Ne4: ambiguous move\n"},
        {"unreadable move", "1. e4 Xx9 *\n", {}, 1,
         "game 1 (? - ?): move 1... Xx9: not a move in algebraic notation\n"},
        {"unclosed comment", "1. e4 e5 {never closed\n2. Nf3 Nc6\n", {}, 2,
         "game 1 (? - ?): unclosed comment after move 1... e5\n"},
        {"unclosed comment swallows no game", "1. e4 {open\n\n" + game, {}, 5,
         "game 1 (? - ?): unclosed comment after move 1 e4\n"},
        {"unclosed comment after a set-up position, black to move first",
         "[SetUp \"1\"]\n[FEN \"4k3/8/8/8/8/8/8/4K3 b - - 0 30\"]\n\n30... Kd7 31. Kd2 Kc6 {open\n", {}, 3,
         "game 1 (? - ?): unclosed comment after move 31... Kc6\n"},
        {"missing bracket", "[White \"W\"\n\n1. e4 *\n\n" + game, {}, 4,
         "game 1 (? - ?): missing ']' in tag pair in [White \"W\" before the first move\n"},
        {"binary garbage", std::string("\x01\xFF\x7F(\x80", 5) + "\n", {}, 0,
         "game 1 (? - ?): move 1 \x01\xFF\x7F: not a move in algebraic notation\n"},
        {"long move quoted up to its fortieth byte", "1. e4 " + std::string(39, 'x') + "\x90yz *\n", {}, 1,
         "game 1 (? - ?): move 1... " + std::string(39, 'x') + "\x90...: not a move in algebraic notation\n"},
        {"long broken tag pair quoted up to its fortieth byte",
         "[Event \"" + std::string(50, 'e') + "\n\n1. e4 *\n\n" + game, {}, 4,
         "game 1 (? - ?): unclosed string in tag pair in [Event \"" + std::string(32, 'e') +
             "... before the first move\n"},
        {"empty file", "", {}, 0, "the file holds 0 games\n"},
        {"game past the last", game + game, {"--game", "3"}, 0,
         "no game 3: the file holds 2 games\n"},
        {"crazyhouse between two standard games",
         game + "[White \"X\"]\n[Black \"Y\"]\n[Variant \"Crazyhouse\"]\n\n1. e4 d5 2. exd5 Qxd5 3. P@e4 *\n\n" + game, {},
         8, "game 2 (X - Y): the variant Crazyhouse is not played\n"},
        {"another variant, any name", "[Variant \"King of the Hill\"]\n\n1. e4 *\n[Variant \"From Position\"]\n\n1. e4 *\n",
         {}, 1, "game 1 (? - ?): the variant King of the Hill is not played\n"},
        {"refused FEN", "[SetUp \"1\"]\n[FEN \"8/8/8/8/8/8/8/8 w - - 0 1\"]\n\n1. e4 *\n" + game, {}, 4,
         "game 1 (? - ?): the FEN's position has no white king\n"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"--pgn"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.emplace_back("-");
        const RunResult result = run_args_in_process(c.pgn, args);
        EXPECT_EQ(result.status, 1) << c.name;
        EXPECT_EQ(lines_starting(result.out, "C (").size(), static_cast<std::size_t>(c.diagrams)) << c.name;
        std::string expected = "tavrik: standard input: " + c.message;
        for (char& ch : expected)
            if (static_cast<unsigned char>(ch) >= 0x7F || (ch < ' ' && ch != '\n'))
                ch = '?';
        EXPECT_EQ(result.err, expected) << c.name;
        if (c.diagrams == 0)
            EXPECT_EQ(result.out, "") << c.name;
        else
            EXPECT_EQ(lines_of(result.out).back(), "showpage") << c.name;
    }
}

// The watcher sees every game as the run played it, faults included, and
// the run prints and reports as it does unwatched.
TEST(PgnRun, WatcherSeesEveryGameAsPlayed) {
    const std::string game = "[White \"W\"]\n[Black \"B\"]\n\n1. e4 e5 2. Nf3 Nc6 *\n\n";
    const std::string pgn = game + "[White \"X\"]\n\n1. e4 e5 2. Ke3 Nc6 *\n\n" +
                            "[SetUp \"1\"]\n[FEN \"4k3/8/8/8/8/8/8/4K3 b - - 0 30\"]\n\n30... Kd7 31. Kd2 *\n";
    struct Seen {
        std::int64_t number;
        std::int64_t first;
        std::vector<std::string> san;
        std::string start;
        std::string fault;
    };
    std::vector<Seen> seen;
    const auto watch = [&seen](const PlayedGame& played) {
        seen.push_back({played.game.number, played.table.first, played.table.san, fen_of(played.start),
                        played.fault});
    };
    test::Capture out;
    test::Capture err;
    TempFile file(pgn);
    std::FILE* in = std::fopen(file.path().c_str(), "r");
    ASSERT_NE(in, nullptr);
    const int status = print_pgn_run(in, "games.pgn", PgnArgs{}, out.file(), err.file(), watch);
    std::fclose(in);
    ASSERT_EQ(seen.size(), 3U);
    const std::string standard = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1";
    EXPECT_EQ(seen[0].number, 1);
    EXPECT_EQ(seen[0].san, (std::vector<std::string>{"e4", "e5", "Nf3", "Nc6"}));
    EXPECT_EQ(seen[0].start, standard);
    EXPECT_EQ(seen[0].fault, "");
    EXPECT_EQ(seen[1].number, 2);
    EXPECT_EQ(seen[1].san, (std::vector<std::string>{"e4", "e5"}));
    EXPECT_EQ(seen[1].fault, "move 2 Ke3: no such legal move");
    EXPECT_EQ(seen[2].first, 60);
    EXPECT_EQ(seen[2].san, (std::vector<std::string>{"Kd7", "Kd2"}));
    EXPECT_EQ(seen[2].start, "4k3/8/8/8/8/8/8/4K3 b - - 0 30");
    EXPECT_EQ(seen[2].fault, "");

    const RunResult unwatched = run_args_in_process(pgn, {"--pgn", "-"});
    EXPECT_EQ(status, unwatched.status);
    EXPECT_EQ(out.text(), unwatched.out);
    EXPECT_EQ(err.text(), "tavrik: games.pgn: game 2 (X - ?): move 2 Ke3: no such legal move\n");
}

TEST(PgnRun, GameWithoutResultEndsWhereTheNextBegins) {
    const RunResult result =
        run_args_in_process("1. e4 e5\n[White \"Next\"]\n1. d4 *\n", {"--pgn", "-"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(lines_starting(result.out, "R (").size(), 3U);
    EXPECT_EQ(lines_starting(result.out, "(").size(), 2U);
}

TEST(PgnRun, FileNamedPgnIsReadAsPgnInAnyCase) {
    const TempFile upper(TWO_GAMES, ".PGN");
    const RunResult result = run_program({upper.path()});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(lines_starting(result.out, "(").size(), 2U);
    // A record is read as ever, whatever the options around it.
    const TempFile record(record_text({"e2e4 1 2 3 4 e7e5 5 6 7 8"}));
    EXPECT_EQ(run_program({record.path()}).out, run_program({"--", record.path()}).out);
}

TEST(PgnRun, OptionsAreCheckedAndHelpListsThem) {
    const RunResult help = run_args_in_process("", {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: tavrik file [start [end] ] \n", 0), 0U);
    for (const char* option : {"--pgn", "--game N", "--to-record", "--flip", "--player NAME", "--layout 2x3"})
        EXPECT_NE(help.out.find(option), std::string::npos) << option;

    const std::vector<std::pair<std::vector<std::string>, std::string>> wrong = {
        {{"--pgn", "--game", "0", "-"}, "tavrik: --game takes a game number from 1, not '0'\n"},
        {{"--pgn", "--game=x", "-"}, "tavrik: --game takes a game number from 1, not 'x'\n"},
        {{"--pgn", "-", "--game"}, "tavrik: --game needs a game number\n"},
        {{"--no-such", "-"}, "tavrik: unknown option '--no-such'\n"},
        {{"--game", "1", "-"}, "tavrik: --game chooses a game of a PGN file\n"},
        {{"--pgn", "--layout", "4x4", "-"}, "tavrik: --layout takes 3x6 or 2x3, not '4x4'\n"},
        {{"--pgn", "-", "--player"}, "tavrik: --player needs a name\n"},
    };
    for (const auto& [args, message] : wrong) {
        const RunResult result = run_args_in_process(TWO_GAMES, args);
        EXPECT_EQ(result.status, 1) << message;
        EXPECT_EQ(result.err, message);
        EXPECT_EQ(result.out, "Usage: tavrik file [start [end] ] \n");
    }
    const RunResult extra = run_args_in_process(TWO_GAMES, {"--to-record", "-", "2"});
    EXPECT_EQ(extra.status, 1);
    EXPECT_EQ(extra.out, "Usage: tavrik file [start [end] ] \n");
}

// Every game of pgn-extract's opening file, against its own coordinate
// text for the same games.
TEST(PgnRun, OpeningFileMovesEqualPgnExtracts) {
    const std::string eco = "/usr/share/pgn-extract/eco.pgn";
    const std::string extractor = "/usr/games/pgn-extract";
    if (run_command({"test", "-r", eco}).status != 0 || run_command({"test", "-x", extractor}).status != 0) {
        if (std::getenv("TAVRIK_REQUIRE_RENDER") != nullptr)
            FAIL() << "needs pgn-extract (Debian package pgn-extract)";
        GTEST_SKIP() << "needs pgn-extract (Debian package pgn-extract)";
    }
    const RunResult theirs =
        run_command({extractor, "-Wuci", "-s", "-w100000", "--noresults", eco});
    ASSERT_EQ(theirs.status, 0);
    std::vector<std::string> expected;
    for (const std::string& line : lines_of(theirs.out))
        if (!line.empty() && line[0] != '[')
            expected.push_back(line);

    // Each game's moves from the boards tavrik prints: the M lines give
    // the squares, the promotions are not in this file.
    const RunResult ours = run_program({eco});
    EXPECT_EQ(ours.status, 0);
    EXPECT_EQ(ours.err, "");
    std::vector<std::string> got;
    for (const std::string& line : lines_of(ours.out)) {
        if (line.size() > 2 && line.substr(line.size() - 2) == " T") {
            got.emplace_back();
        } else if (line.size() > 2 && line.substr(line.size() - 2) == " M" && !got.empty()) {
            std::istringstream squares(line);
            int from = 0;
            int to = 0;
            squares >> from >> to;
            std::string& moves = got.back();
            if (!moves.empty())
                moves += ' ';
            for (const int s : {from, to}) {
                moves += static_cast<char>('a' + s % 8);
                moves += static_cast<char>('1' + s / 8);
            }
        }
    }
    ASSERT_EQ(got.size(), expected.size());
    EXPECT_GT(got.size(), 2000U);
    for (std::size_t k = 0; k < got.size(); ++k)
        ASSERT_EQ(got[k], expected[k]) << "game " << k + 1;
}

} // namespace
} // namespace tavrik

// tavrik-analyse: the UCI lines it reads, and whole runs against stand-in
// engines (tests/engines) and, where it is installed, the real Stockfish.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "analyse/analyse.h"
#include "engine/engine.h"
#include "support.h"

namespace tavrik {
namespace {

using test::lines_of;
using test::read_file;
using test::record_text;
using test::run_command;
using test::RunResult;
using test::TempFile;

const std::string SOURCE = TAVRIK_SOURCE_DIR;
const std::string ANALYSE = TAVRIK_ANALYSE_BINARY;
const std::string ENGINES = SOURCE + "/tests/engines/";

SearchReport read_lines(const std::vector<std::string>& lines) {
    SearchReport report;
    for (const std::string& line : lines)
        read_info_line(line, report);
    return report;
}

TEST(InfoLines, TheLastExactScoreCountsWithItsDepthNodesAndTime) {
    const SearchReport report = read_lines({
        "info depth 1 seldepth 1 multipv 1 score cp 12 nodes 20 nps 20000 time 1 pv e2e4",
        "info depth 2 score cp 30 nodes 90 time 2 pv e2e4 e7e5",
        "info depth 3 score cp 45 lowerbound nodes 150 time 3 pv e2e4",
        "info depth 3 score cp -5 upperbound nodes 160 time 4",
        "info string NNUE evaluation using nn.nnue enabled score cp 999",
        "info depth 3 currmove e2e4 currmovenumber 1",
        "bestmove e2e4 ponder e7e5",
    });
    EXPECT_TRUE(report.scored);
    EXPECT_FALSE(report.mate);
    EXPECT_EQ(report.score, 30);
    EXPECT_EQ(report.depth, 2);
    EXPECT_EQ(report.nodes, 90);
    EXPECT_EQ(report.time_ms, 2);

    EXPECT_FALSE(read_lines({"info depth 1 score cp 5 lowerbound", "info string score cp 3", "info",
                             "info score cp", "info score cp x", "information score cp 4"})
                     .scored);
    const SearchReport mate = read_lines({"info depth 9 score mate -3 nodes 7 time 8 pv a1a2"});
    EXPECT_TRUE(mate.mate);
    EXPECT_EQ(mate.score, -3);
}

TEST(InfoLines, MatesAreRecordedAsOneHundredThousandLessTheMoves) {
    EXPECT_EQ(recorded_score({true, true, 1, 0, 0, 0, ""}), 99999);
    EXPECT_EQ(recorded_score({true, true, -3, 0, 0, 0, ""}), -99997);
    EXPECT_EQ(recorded_score({true, true, 0, 0, 0, 0, ""}), -100000);
    EXPECT_EQ(recorded_score({true, false, -42, 0, 0, 0, ""}), -42);
}

TEST(PlayedMoves, TakeTheNumbersOfTheNextPositionTurnedToTheMoversView) {
    EXPECT_EQ(recorded_score(as_move_into({true, false, 35, 12, 900, 7, "e7e5"})), -35);
    EXPECT_EQ(as_move_into({true, false, 35, 12, 900, 7, "e7e5"}).nodes, 900);
    EXPECT_EQ(recorded_score(as_move_into({true, true, 3, 0, 0, 0, ""})), -99997);
    // Mated there in 2, or already: the mover's mate, one move further.
    EXPECT_EQ(recorded_score(as_move_into({true, true, -2, 0, 0, 0, ""})), 99997);
    EXPECT_EQ(recorded_score(as_move_into({true, true, 0, 0, 0, 0, ""})), 99999);

    // Half-moves 0, 1, 2 and 4 searched; 3 was not (a null move, say).
    const std::vector<Task> tasks = {{0, "", "e2e4", "", true},  {1, "", "e7e5", "", true},
                                     {2, "", "g1f3", "", true},  {4, "", "b1c3", "", true},
                                     {2, "", "g1f3", "", false}, {4, "", "b1c3", "", false}};
    const std::vector<SearchReport> reports = {{true, false, 30, 12, 1, 1, "d2d4"}, {true, false, 25, 12, 2, 2, "e7e5"},
                                               {true, false, 40, 12, 3, 3, "b1c3"}, {true, false, 50, 12, 4, 4, "d2d4"},
                                               {true, false, 5, 12, 5, 5, ""},      {true, false, 6, 12, 6, 6, ""}};
    std::vector<std::int64_t> nodes;
    for (const SearchReport& report : played_reports(tasks, reports))
        nodes.push_back(report.nodes * (report.score < 0 ? -1 : 1));
    EXPECT_EQ(nodes, (std::vector<std::int64_t>{-2, 2, 5, 6}));
}

TEST(UciCommands, SearchmovesComesLastAndProgramsAreFoundOnThePath) {
    EXPECT_EQ(go_line({12, std::nullopt}, "e7e8q"), "go depth 12 searchmoves e7e8q");
    EXPECT_EQ(go_line({std::nullopt, 500}, "e2e4"), "go movetime 500 searchmoves e2e4");
    EXPECT_EQ(go_line({8, 500}, "e2e4"), "go depth 8 movetime 500 searchmoves e2e4");
    EXPECT_EQ(find_program("sh", "/nonexistent:/bin:/usr/bin"), "/bin/sh");
    EXPECT_EQ(find_program("no-such-program-here", "/bin:/usr/bin"), "");
    EXPECT_EQ(find_program("./relative/name", "/bin"), "./relative/name");
    EXPECT_EQ(find_program("sh", nullptr), "");
}

// A run of tavrik-analyse, with the ids of the stand-in engines it started.
struct Analysis {
    RunResult result;
    std::vector<long> engine_pids;
};

Analysis analyse(const std::vector<std::string>& args, const std::string& input = "") {
    const TempFile pids("");
    std::vector<std::string> words = {"env", "FAKE_ENGINE_PIDS=" + pids.path(), ANALYSE};
    words.insert(words.end(), args.begin(), args.end());
    Analysis analysis{run_command(words, input), {}};
    std::istringstream ids(read_file(pids.path()));
    for (long pid = 0; ids >> pid;)
        analysis.engine_pids.push_back(pid);
    return analysis;
}

void expect_all_gone(const std::vector<long>& pids) {
    for (const long pid : pids)
        EXPECT_TRUE(::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
            << "engine process " << pid << " outlived tavrik-analyse";
}

TEST(Analyse, TakesEachMovesNumbersFromTheEngineInTheMoversView) {
    const std::string scholars = SOURCE + "/examples/scholars-mate.rec";
    const Analysis run = analyse({"--engine", ENGINES + "fixed-info", "--jobs", "2", scholars});
    EXPECT_EQ(run.result.status, 0);
    EXPECT_EQ(run.result.err, "");
    // Bounds and strings are passed over. The engine's best is the move
    // played only at the first and last moves; the others take the numbers
    // of the search of the position they lead to, turned to their mover's
    // view: its +0.20 for the side to move, or its mate after 3... Nf6.
    EXPECT_EQ(run.result.out, "Engine A - Engine C, Blitz, 2026.11.20\n1-0\n"
                              "e2e4 20 2 50 2 e7e5 -20 2 50 2\n"
                              "f1c4 -20 2 50 2 b8c6 -20 2 50 2\n"
                              "d1h5 -20 2 50 2 g8f6 -99999 5 9 1\n"
                              "h5f7 99999 5 9 1\n");
    EXPECT_EQ(run.engine_pids.size(), 2U);
    expect_all_gone(run.engine_pids);

    // As PGN, which tavrik reads back to the same numbers.
    const Analysis pgn = analyse({"--engine", ENGINES + "fixed-info", "--pgn-out", scholars});
    EXPECT_EQ(pgn.result.status, 0);
    EXPECT_NE(pgn.result.out.find("1. e4 {+0.20/2 0.002s n=50} e5 {-0.20/2 0.002s n=50}"),
              std::string::npos)
        << pgn.result.out;
    EXPECT_NE(pgn.result.out.find("Nf6 {-M1/5 0.001s n=9} 4. Qxf7# {+M1/5 0.001s n=9} *"),
              std::string::npos)
        << pgn.result.out;
    const TempFile back(pgn.result.out, ".pgn");
    const RunResult record = run_command({TAVRIK_BINARY, "--to-record", back.path()});
    EXPECT_EQ(lines_of(record.out).back(), "h5f7 99999 5 9 1");
    EXPECT_EQ(lines_of(record.out)[4], "d1h5 -20 2 50 2 g8f6 -99999 5 9 1");
}

TEST(Analyse, MovesThatBreakTheRulesAreNotSearched) {
    // 2. d1d2 lands on white's own pawn; 2... x9 names no move; the
    // bishop's 3. f1f3 fits the position but breaks the rules; 3... g8f6
    // is searched again.
    const TempFile record(record_text({"e2e4 1 1 1 1 e7e5 1 1 1 1", "d1d2 1 1 1 1 x9 1 1 1 1",
                                       "f1f3 1 1 1 1 g8f6 1 1 1 1"}));
    const Analysis run = analyse({"--engine", ENGINES + "fixed-info", record.path()});
    EXPECT_EQ(run.result.status, 0);
    EXPECT_EQ(run.result.out, "Test record\nengine v1\n"
                              "e2e4 20 2 50 2 e7e5 20 2 50 2\n"
                              "d1d2 0 0 0 0 a1a1 0 0 0 0\n"
                              "f1f3 0 0 0 0 g8f6 -99999 5 11 2\n");
    EXPECT_EQ(run.result.err,
              "tavrik-analyse: " + record.path() + ": move 2 d1d2 not analysed: the move does not fit the position\n"
              "tavrik-analyse: " + record.path() + ": move 2... x9 not analysed: the text names no move\n"
              "tavrik-analyse: " + record.path() + ": move 3 f1f3 not analysed: the move is not legal here\n");
}

TEST(Analyse, PgnGamesAreChosenAndStopWhereTheirMovesDo) {
    const TempFile two("[White \"A\"]\n[Black \"B\"]\n\n1. e4 e5 2. Ke3 *\n\n[White \"C\"]\n\n1. d4 *\n");
    const Analysis many = analyse({"--engine", ENGINES + "fixed-info", "--pgn", "-"}, "< " + two.path());
    EXPECT_EQ(many.result.status, 1);
    EXPECT_EQ(many.result.out, "");
    EXPECT_EQ(many.result.err, "tavrik-analyse: standard input: the file holds 2 games; choose one with --game N\n");
    EXPECT_TRUE(many.engine_pids.empty());

    const Analysis first =
        analyse({"--engine", ENGINES + "fixed-info", "--pgn", "--game", "1", "-"}, "< " + two.path());
    EXPECT_EQ(first.result.status, 1);
    EXPECT_EQ(first.result.out, "A - B, ?, ?\n*\ne2e4 20 2 50 2 e7e5 20 2 50 2\n");
    EXPECT_EQ(first.result.err, "tavrik-analyse: standard input: game 1 (A - B): move 2 Ke3: no such legal move\n");

    // A game set up from a FEN has only the PGN form.
    const TempFile set_up("[SetUp \"1\"]\n[FEN \"4k3/8/8/8/8/8/8/4K3 b - - 0 7\"]\n\n7... Kd7 *\n");
    const Analysis record = analyse({"--engine", ENGINES + "fixed-info", "--pgn", "-"}, "< " + set_up.path());
    EXPECT_EQ(record.result.status, 1);
    EXPECT_EQ(record.result.err, "tavrik-analyse: standard input: the game starts from a set-up position, which a "
                                 "record cannot hold; use --pgn-out\n");
    const Analysis pgn =
        analyse({"--engine", ENGINES + "fixed-info", "--pgn", "--pgn-out", "-"}, "< " + set_up.path());
    EXPECT_EQ(pgn.result.status, 0);
    EXPECT_NE(pgn.result.out.find("[FEN \"4k3/8/8/8/8/8/8/4K3 b - - 0 7\"]"), std::string::npos);
    EXPECT_NE(pgn.result.out.find("\n7... Kd7 {+0.20/2 0.002s n=50} *\n"), std::string::npos) << pgn.result.out;
}

TEST(Analyse, Chess960IsAskedOfTheEngineAndNullMovesAreSkipped) {
    const TempFile game("[Variant \"Chess960\"]\n[SetUp \"1\"]\n"
                        "[FEN \"rk2r3/pppppppp/8/8/8/8/PPPPPPPP/RK2R3 w KQkq - 0 1\"]\n\n1. O-O -- 2. e4 *\n",
                        ".pgn");
    const TempFile log("");
    const RunResult run = run_command({"env", "FAKE_ENGINE_LOG=" + log.path(), ANALYSE, "--engine",
                                       ENGINES + "fixed-info", "--jobs", "1", "--pgn-out", game.path()});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "tavrik-analyse: " + game.path() + ": move 1... -- not analysed: a null move is no move to search\n");
    EXPECT_NE(run.out.find("1. O-O {+0.20/2 0.002s n=50} -- 2. e4 {+0.20/2"), std::string::npos) << run.out;
    const std::string said = read_file(log.path());
    EXPECT_NE(said.find("setoption name UCI_Chess960 value true\n"), std::string::npos) << said;
    // Castling as the king taking its own rook, the rights by the rooks' files.
    EXPECT_NE(said.find("position fen rk2r3/pppppppp/8/8/8/8/PPPPPPPP/RK2R3 w EAea - 0 1\n"), std::string::npos)
        << said;
    // O-O, before a null move, and the last move, which were not the
    // best, are searched on their own: no search follows them.
    EXPECT_NE(said.find("searchmoves b1e1\n"), std::string::npos) << said;
    EXPECT_NE(said.find("searchmoves e2e4\n"), std::string::npos) << said;
    EXPECT_NE(said.find("position fen rk2r3/pppppppp/8/8/8/8/PPPPPPPP/R4RK1 w ea - 0 2\n"), std::string::npos)
        << said;

    const RunResult record = run_command({ANALYSE, "--engine", ENGINES + "fixed-info", game.path()});
    EXPECT_EQ(record.status, 1);
    EXPECT_EQ(record.err, "tavrik-analyse: " + game.path() + ": the game is a Chess960 game, which a record cannot "
                          "hold; use --pgn-out\n");
}

TEST(Analyse, AFailingEngineEndsTheRunWithOneLineAndNoOutput) {
    struct Case {
        const char* engine;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"exits-at-once", "exited with status 3"},
        {"dies-mid-search", "was killed by signal 11 (Segmentation fault) (move 1 e2e4)"},
        {"never-ready", "did not answer 'isready' with 'readyok' within 1 s"},
        {"garbage", "answered 'bestmove' without a score (move 1 e2e4)"},
    };
    for (const Case& c : cases) {
        const Analysis run = analyse({"--engine", ENGINES + c.engine, "--timeout", "1", "--jobs", "1",
                                      SOURCE + "/examples/scholars-mate.rec"});
        EXPECT_EQ(run.result.status, 1) << c.engine;
        EXPECT_EQ(run.result.out, "") << c.engine;
        EXPECT_EQ(run.result.err, "tavrik-analyse: engine " + ENGINES + c.engine + ": " + c.message + "\n");
        EXPECT_FALSE(run.engine_pids.empty()) << c.engine;
        expect_all_gone(run.engine_pids);
    }
    // With two engines either may fail first: still one line, and the
    // other engine is stopped too.
    const Analysis two = analyse({"--engine", ENGINES + "dies-mid-search", "--jobs", "2",
                                  SOURCE + "/examples/scholars-mate.rec"});
    EXPECT_EQ(two.result.status, 1);
    EXPECT_EQ(two.result.out, "");
    EXPECT_EQ(two.result.err.rfind("tavrik-analyse: engine " + ENGINES + "dies-mid-search: was killed by signal 11", 0), 0U);
    EXPECT_EQ(std::count(two.result.err.begin(), two.result.err.end(), '\n'), 1);
    EXPECT_EQ(two.engine_pids.size(), 2U);
    expect_all_gone(two.engine_pids);
    const RunResult missing = run_command({ANALYSE, "--engine", "/nonexistent/engine", SOURCE + "/examples/scholars-mate.rec"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "tavrik-analyse: engine /nonexistent/engine: cannot run it: No such file or directory\n");
    const RunResult unknown = run_command({ANALYSE, "--engine", "no-such-engine-anywhere", "-"});
    EXPECT_EQ(unknown.status, 1);
    EXPECT_EQ(unknown.err, "tavrik-analyse: engine no-such-engine-anywhere not found on PATH\n");
}

TEST(Analyse, InterruptStopsTheEnginesAndWritesNothing) {
    const TempFile pids("");
    const std::string script = "FAKE_ENGINE_PIDS='" + pids.path() + "' \"$1\" --engine \"$2\" --timeout 30 \"$3\" & "
                               "pid=$!; sleep 0.5; kill -INT $pid; wait $pid";
    const RunResult run = run_command({"sh", "-c", script, "sh", ANALYSE, ENGINES + "never-ready",
                                       SOURCE + "/examples/scholars-mate.rec"});
    EXPECT_EQ(run.status, 130);
    EXPECT_EQ(run.out, "");
    std::istringstream ids(read_file(pids.path()));
    std::vector<long> started;
    for (long pid = 0; ids >> pid;)
        started.push_back(pid);
    EXPECT_FALSE(started.empty());
    expect_all_gone(started);
}

TEST(Analyse, CommandLineIsChecked) {
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"--depth", "0", "x"}, {"--jobs", "two", "x"}, {"--bogus", "x"},
                                               {}, {"a", "b"}, {"--option", "Hash", "x"}, {"--game", "2", "x.rec"},
                                               {"--annotate", "--pgn-out", "x.pgn"}}) {
        std::vector<std::string> words = {ANALYSE};
        words.insert(words.end(), args.begin(), args.end());
        const RunResult run = run_command(words);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find("Usage: tavrik-analyse"), std::string::npos) << run.err;
    }
    const RunResult help = run_command({ANALYSE, "--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* option : {"--engine", "--depth", "--movetime", "--jobs", "--timeout", "--pgn-out",
                               "--progress", "--option", "--annotate", "--summary"})
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
}

// The curve and thresholds players know: an expected score from the
// mover's view, and a move's loss of it against the best move's.
TEST(Judging, MovesAreClassedByTheExpectedScoreTheyLose) {
    EXPECT_DOUBLE_EQ(expected_score(0), 0.5);
    EXPECT_NEAR(expected_score(100), 0.5910, 0.0001);
    EXPECT_DOUBLE_EQ(expected_score(1000), expected_score(5000)); // held within 1000
    EXPECT_DOUBLE_EQ(expected_score(99997), 1);                    // a mate in 3 for the mover
    EXPECT_DOUBLE_EQ(expected_score(-99999), 0);
    // From a level game, the scores whose loss crosses 0.05, 0.10, 0.15.
    EXPECT_EQ(classify_move(0, -54), MistakeLevel::NONE);
    EXPECT_EQ(classify_move(0, -55), MistakeLevel::INACCURACY);
    EXPECT_EQ(classify_move(0, -110), MistakeLevel::INACCURACY);
    EXPECT_EQ(classify_move(0, -111), MistakeLevel::MISTAKE);
    EXPECT_EQ(classify_move(0, -168), MistakeLevel::MISTAKE);
    EXPECT_EQ(classify_move(0, -169), MistakeLevel::BLUNDER);
    // Mates: missing a mate for a won game is little; walking into one is all.
    EXPECT_EQ(classify_move(99995, 1000), MistakeLevel::NONE);
    EXPECT_EQ(classify_move(99995, 300), MistakeLevel::BLUNDER);
    EXPECT_EQ(classify_move(0, -99999), MistakeLevel::BLUNDER);
    EXPECT_EQ(classify_move(-1000, -99999), MistakeLevel::NONE); // lost either way
    EXPECT_EQ(classify_move(50, 80), MistakeLevel::NONE); // better than the best: none
}

// The stand-in engine finds e2e4 best from the start and the mate after
// 3... Nf6 (the moves played), d2d4 for white and a7a6 for black
// elsewhere: one search a position, the next scoring the move before.
TEST(Analyse, BestMovesAnnotateTheGameAndSummariseEachSide) {
    const TempFile game("[White \"Anna\"]\n[Black \"Boris\"]\n[TimeControl \"60+1\"]\n\n"
                        "{Before} 1. e4 {[%clk 0:00:59] good} e5 $1 (1... c5 {Sicilian} (1... e6)) 2. Bc4 Nc6 "
                        "3. Qh5 Nf6 {[%eval 0.3] natural} 4. Qxf7# 1-0\n",
                        ".pgn");
    const TempFile log("");
    for (const char* jobs : {"1", "2"}) {
        std::remove(log.path().c_str());
        const RunResult run = run_command({"env", "FAKE_ENGINE_LOG=" + log.path(), ANALYSE, "--engine",
                                           ENGINES + "fixed-info", "--jobs", jobs, "--annotate", "--summary",
                                           game.path()});
        EXPECT_EQ(run.status, 0);
        const std::vector<std::string> said = lines_of(read_file(log.path()));
        EXPECT_EQ(std::count_if(said.begin(), said.end(), [](const std::string& line) { return line == "go depth 16"; }),
                  7);
        EXPECT_EQ(std::count_if(said.begin(), said.end(), [](const std::string& line) { return line.starts_with("go "); }),
                  7);
        EXPECT_EQ(run.out, "[White \"Anna\"]\n[Black \"Boris\"]\n[TimeControl \"60+1\"]\n\n"
                           "{ Before } 1. e4 { [%eval 0.20,2] } { [%clk 0:00:59] good } 1... e5 $1\n"
                           "{ [%eval 0.20,2] } ( 1... c5 { Sicilian } ( 1... e6 ) ) 2. Bc4\n"
                           "{ [%eval -0.20,2] } 2... Nc6 { [%eval 0.20,2] } 3. Qh5 { [%eval -0.20,2] }\n"
                           "3... Nf6 $4 { [%eval #1,5] natural } ( 3... a6 { [%eval -0.20,2] } ) 4. Qxf7#\n"
                           "{ [%eval #1,5] } 1-0\n")
            << jobs;
        EXPECT_EQ(run.err, "tavrik-analyse: Anna (White): 0 inaccuracies, 0 mistakes, 0 blunders, average "
                           "centipawn loss 20\n"
                           "tavrik-analyse: Boris (Black): 0 inaccuracies, 0 mistakes, 1 blunder, average "
                           "centipawn loss 360\n");
        // Which a worksheet reads back: the blunder and the better move.
        const TempFile annotated(run.out, ".pgn");
        const RunResult sheet = run_command({TAVRIK_BINARY, "--worksheet", annotated.path()});
        EXPECT_NE(sheet.out.find("(1. 3... a6 -0.20 \\(played 3... Nf6?? #1\\)) NoteText"), std::string::npos)
            << sheet.out;
    }
    // A record: its header lines become tags.
    const RunResult record = run_command({ANALYSE, "--engine", ENGINES + "fixed-info", "--annotate",
                                          SOURCE + "/examples/scholars-mate.rec"});
    EXPECT_EQ(record.status, 0);
    EXPECT_EQ(record.out.substr(0, record.out.find("\n\n")),
              "[Event \"Blitz\"]\n[Site \"?\"]\n[Date \"2026.11.20\"]\n[Round \"?\"]\n[White \"Engine A\"]\n"
              "[Black \"Engine C\"]\n[Result \"1-0\"]");
    std::string flat = record.out;
    std::replace(flat.begin(), flat.end(), '\n', ' ');
    EXPECT_NE(flat.find("3... Nf6 $4 { [%eval #1,5] } ( 3... a6 { [%eval -0.20,2] } )"), std::string::npos) << flat;
}

// The real engine, which CI installs (Debian package stockfish).
std::string stockfish() {
    if (run_command({"test", "-x", "/usr/games/stockfish"}).status == 0)
        return "/usr/games/stockfish";
    return {};
}

#define REQUIRE_STOCKFISH()                                                              \
    do {                                                                                 \
        if (stockfish().empty()) {                                                       \
            if (std::getenv("TAVRIK_REQUIRE_RENDER") != nullptr)                         \
                FAIL() << "needs /usr/games/stockfish (Debian package stockfish)";       \
            GTEST_SKIP() << "needs /usr/games/stockfish (Debian package stockfish)";     \
        }                                                                                \
    } while (false)

// Each half-move's text and depth, and the score where `scores` says so.
std::vector<std::string> moves_and_depths(const std::string& record) {
    std::vector<std::string> kept;
    const std::vector<std::string> lines = lines_of(record);
    for (std::size_t k = 2; k < lines.size(); ++k) {
        std::istringstream words(lines[k]);
        std::string word;
        for (int w = 0; words >> word; ++w)
            if (w % 5 == 0 || w % 5 == 2)
                kept.push_back(word);
    }
    return kept;
}

TEST(AnalyseWithStockfish, SampleGamesGiveRecordsThatPrint) {
    REQUIRE_STOCKFISH();
    const RunResult mate = run_command({ANALYSE, "--engine", stockfish(), "--depth", "6",
                                        SOURCE + "/examples/scholars-mate.rec"});
    ASSERT_EQ(mate.status, 0) << mate.err;
    EXPECT_EQ(mate.err, "");
    const std::vector<std::string> lines = lines_of(mate.out);
    ASSERT_EQ(lines.size(), 6U);
    EXPECT_EQ(lines.back().substr(0, 10), "h5f7 99999");

    for (const std::string& game : {std::string("1"), std::string("2")}) {
        const RunResult record = run_command({ANALYSE, "--engine", stockfish(), "--depth", "4", "--game", game,
                                              SOURCE + "/examples/self-play.pgn"});
        ASSERT_EQ(record.status, 0) << record.err;
        const TempFile saved(record.out);
        const RunResult sheet = run_command({TAVRIK_BINARY, saved.path()});
        EXPECT_EQ(sheet.status, 0);
        EXPECT_EQ(sheet.err, "");
        EXPECT_EQ(sheet.out.find("Illegal"), std::string::npos);
    }
}

TEST(AnalyseWithStockfish, OneJobOrTwoGiveTheSameMovesAndDepths) {
    REQUIRE_STOCKFISH();
    const std::string game = SOURCE + "/tests/data/club-match.pgn";
    const RunResult one = run_command({ANALYSE, "--engine", stockfish(), "--depth", "5", "--jobs", "1", game});
    const RunResult two = run_command({ANALYSE, "--engine", stockfish(), "--depth", "5", "--jobs", "2", game});
    ASSERT_EQ(one.status, 0) << one.err;
    ASSERT_EQ(two.status, 0) << two.err;
    EXPECT_EQ(moves_and_depths(one.out), moves_and_depths(two.out));
    EXPECT_EQ(moves_and_depths(one.out).size(), 2U * 84);
}

TEST(AnalyseWithStockfish, AnnotatedSampleReadsBackAndGivesAWorksheet) {
    REQUIRE_STOCKFISH();
    const RunResult run = run_command({ANALYSE, "--engine", stockfish(), "--depth", "6", "--annotate", "--game", "1",
                                       SOURCE + "/examples/annotated.pgn"});
    ASSERT_EQ(run.status, 0) << run.err;
    // Every move evaluated; the annotator's comments and variations kept.
    const auto count = [&](const std::string& text) {
        std::size_t n = 0;
        for (std::size_t at = run.out.find(text); at != std::string::npos; at = run.out.find(text, at + 1))
            ++n;
        return n;
    };
    EXPECT_EQ(count("[%clk "), 47U);
    EXPECT_GE(count("[%eval "), 47U);
    std::string flat = run.out;
    std::replace(flat.begin(), flat.end(), '\n', ' ');
    EXPECT_NE(flat.find("Black gives up a pawn at once."), std::string::npos);
    EXPECT_NE(flat.find("( 8... Ng4 9. Bc5 { and the bishop on c5 is a monster. } )"), std::string::npos) << flat;
    const TempFile annotated(run.out, ".pgn");
    const RunResult sheet = run_command({TAVRIK_BINARY, annotated.path()});
    EXPECT_EQ(sheet.status, 0) << sheet.err;
    EXPECT_EQ(run_command({TAVRIK_BINARY, "--worksheet", "--level", "inaccuracy", annotated.path()}).status, 0);
}

} // namespace
} // namespace tavrik

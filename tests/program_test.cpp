// The built program, run as a user runs it.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "support.h"

namespace tavrik {
namespace {

using test::read_file;
using test::record_text;
using test::run_command;
using test::run_program;
using test::RunResult;
using test::TempFile;

const std::string USAGE = "Usage: tavrik file [start [end] ] \n";
const std::string SOURCE = TAVRIK_SOURCE_DIR;

TEST(Program, WritesTheWholeSheetOfTheWorkedExample) {
    const TempFile record(record_text({"e2e4 12 3 4567 8 e7e5 -5 3 3456 7",
                                       "g1f3 10 4 5000 4 b8c6 0 4 4000 6"}));
    const RunResult result = run_program({record.path()});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out,
              "/V 11 72 mul def /L 60 def\n"
              "L V moveto\n"
              "R (1 e2e4 score 12 time 8) show\n"
              "L  V 100 sub moveto\n"
              "C ('#[rnbqkbnr;pppppppp;        ;        ;    P   ;        ;PPPP PPP;RNBQKBNR;]') show\n"
              "/L 160 L add def\n"
              "L V moveto\n"
              "R (1  ... e7e5 score -5 time 7) show\n"
              "L  V 100 sub moveto\n"
              "C ('#[rnbqkbnr;pppp ppp;        ;    p   ;    P   ;        ;PPPP PPP;RNBQKBNR;]') show\n"
              "/L 160 L add def\n"
              "L V moveto\n"
              "R (2 g1f3 score 10 time 4) show\n"
              "L  V 100 sub moveto\n"
              "C ('#[rnbqkbnr;pppp ppp;        ;    p   ;    P   ;     N  ;PPPP PPP;RNBQKB R;]') show\n"
              "/V V 120 sub def /L 60 def\n"
              "L V moveto\n"
              "R (2  ... b8c6 score 0 time 6) show\n"
              "L  V 100 sub moveto\n"
              "C ('#[r bqkbnr;pppp ppp;  n     ;    p   ;    P   ;     N  ;PPPP PPP;RNBQKB R;]') show\n"
              "/L 160 L add def\n"
              "showpage\n");
}

TEST(Program, WrongNumberOfArgumentsPrintsTheUsageLine) {
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{}, {"a", "1", "2", "3"}}) {
        SCOPED_TRACE(args.size());
        const RunResult result = run_program(args);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, USAGE);
        EXPECT_EQ(result.err, "");
    }
}

TEST(Program, HelpAndVersionAnswerAndSucceed) {
    const RunResult help = run_program({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind(USAGE, 0), 0U);
    const RunResult version = run_program({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("tavrik ", 0), 0U);
    EXPECT_EQ(version.out.back(), '\n');
    // One version for the three programs, the build's.
    const std::string number = version.out.substr(7);
    EXPECT_EQ(run_command({TAVRIK_ANALYSE_BINARY, "--version"}).out, "tavrik-analyse " + number);
    EXPECT_EQ(run_command({TAVRIK_PDF, "--version"}).out, "tavrik-pdf " + number);
}

// What bash offers after the words typed, with the programs' completion
// loaded, in the folder given.
std::string completed(const std::string& folder, const std::string& typed) {
    const std::string script =
        "cd \"$2\" && source \"$1\" && read -ra COMP_WORDS <<< \"$3\" && "
        "{ [[ $3 != *' ' ]] || COMP_WORDS+=(''); } && COMP_CWORD=$((${#COMP_WORDS[@]} - 1)) && "
        "_tavrik_complete && echo \"${COMPREPLY[*]}\"";
    const RunResult bash = run_command({"bash", "-c", script, "bash", SOURCE + "/run/tavrik.bash-completion", folder, typed});
    EXPECT_EQ(bash.status, 0) << bash.err;
    return bash.out;
}

TEST(Completion, OffersEachProgramsOptionsFilesAndNoNumbers) {
    const std::string folder = ::testing::TempDir() + "tavrik-completion-" + std::to_string(::getpid());
    ::mkdir(folder.c_str(), 0700);
    const std::string game = folder + "/game.pgn";
    std::FILE* file = std::fopen(game.c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fclose(file);
    const auto offered = [&](const std::string& typed) { return completed(folder, typed); };
    EXPECT_EQ(offered("tavrik --fl"), "--flip\n");
    EXPECT_EQ(offered("tavrik-pdf --no-e"), "--no-eval-bar\n");
    EXPECT_EQ(offered("tavrik-analyse --pgn-o"), "--pgn-out\n");
    EXPECT_EQ(offered("tavrik-pdf --layout "), "3x6 2x3\n");
    EXPECT_EQ(offered("tavrik ga"), "game.pgn\n");
    EXPECT_EQ(offered("tavrik --game 2 ga"), "game.pgn\n");
    // Move numbers after the file, and a number after --depth: nothing.
    EXPECT_EQ(offered("tavrik game.pgn "), "\n");
    EXPECT_EQ(offered("tavrik-analyse --depth "), "\n");
    std::remove(game.c_str());
    ::rmdir(folder.c_str());
}

TEST(Program, DashReadsTheRecordFromStandardInput) {
    const std::string path = SOURCE + "/examples/club-match.rec";
    const RunResult result = run_program({"-", "40"}, "< '" + path + "'");
    EXPECT_EQ(result.status, 0);
    const RunResult by_name = run_program({path, "40"});
    EXPECT_EQ(result.out, by_name.out);
    EXPECT_NE(result.out.find("R (42  ... a6b6"), std::string::npos);
}

// Permissions do not bind root, so as root the program runs as nobody,
// from a copy that nobody can reach wherever the build tree lies.
RunResult run_unprivileged(const std::vector<std::string>& args) {
    if (::geteuid() != 0)
        return run_program(args);
    const TempFile program(read_file(TAVRIK_BINARY));
    if (::chmod(program.path().c_str(), 0755) != 0)
        return {};
    std::vector<std::string> words = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                                      "--clear-groups", program.path()};
    words.insert(words.end(), args.begin(), args.end());
    return run_command(words);
}

TEST(Program, RecordIsOnlyOpenedForReading) {
    if (::geteuid() == 0 && ::access("/usr/bin/setpriv", X_OK) != 0)
        GTEST_SKIP() << "needs setpriv to drop root";
    const TempFile record(record_text({"e2e4 1 1 1 1 e7e5 1 1 1 1"}));

    ASSERT_EQ(::chmod(record.path().c_str(), 0444), 0);
    const RunResult read_only = run_unprivileged({record.path()});
    EXPECT_EQ(read_only.status, 0);
    EXPECT_EQ(read_only.err, "");
    EXPECT_NE(read_only.out.find("R (1  ... e7e5 score 1 time 1) show"), std::string::npos);

    ASSERT_EQ(::chmod(record.path().c_str(), 0), 0);
    const RunResult unreadable = run_unprivileged({record.path()});
    EXPECT_EQ(unreadable.status, 1);
    EXPECT_EQ(unreadable.out, "");
    EXPECT_EQ(unreadable.err, "tavrik: " + record.path() + ": Permission denied\n");
}

TEST(Program, UsageOnAFullOutputDeviceIsAFailureToo) {
    const RunResult result = run_program({"--help"}, "", "> /dev/full");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "tavrik: write error: No space left on device\n");
}

} // namespace
} // namespace tavrik

// The prologue and tavrik-pdf, rendered by Ghostscript and looked at pixel
// by pixel. They need gs and pdfinfo; without them the tests skip, unless
// TAVRIK_REQUIRE_RENDER is set (as CI does), when that is a failure.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "support.h"

namespace tavrik {
namespace {

using test::read_file;
using test::record_text;
using test::run_command;
using test::RunResult;
using test::TempFile;

const std::string SOURCE = TAVRIK_SOURCE_DIR;
const std::string PDF_COMMAND = TAVRIK_PDF;

// The layout the body and the prologue agree on, in points on Letter;
// on other paper the prologue centres it.
constexpr double SQUARE = 11.5;
constexpr double CENTRE_X = 11.5;
constexpr double CENTRE_Y = -45.5;
constexpr int DPI = 144;

bool have(const char* program) {
    return run_command({"sh", "-c", std::string("command -v ") + program}).status == 0;
}

#define REQUIRE_RENDERING()                                                             \
    do {                                                                                \
        if (!have("gs") || !have("pdfinfo")) {                                          \
            if (std::getenv("TAVRIK_REQUIRE_RENDER") != nullptr)                        \
                FAIL() << "gs and pdfinfo are required (ghostscript, poppler-utils)";  \
            GTEST_SKIP() << "needs gs and pdfinfo (ghostscript, poppler-utils)";        \
        }                                                                               \
    } while (false)

struct Rgb {
    double r = 0, g = 0, b = 0;
    [[nodiscard]] double luminance() const { return 0.3 * r + 0.59 * g + 0.11 * b; }
};

double distance(const Rgb& a, const Rgb& b) {
    return std::abs(a.r - b.r) + std::abs(a.g - b.g) + std::abs(a.b - b.b);
}

// A page rendered to a raw PPM image.
class Page {
public:
    explicit Page(const std::string& ppm) {
        std::istringstream in(ppm);
        // Header fields may be separated by comment lines.
        const auto field = [&in] {
            std::string word;
            while (in >> word && word[0] == '#')
                in.ignore(1 << 16, '\n');
            return word;
        };
        const std::string magic = field();
        width_ = std::atoi(field().c_str());
        height_ = std::atoi(field().c_str());
        const int depth = std::atoi(field().c_str());
        in.get();
        if (magic != "P6" || depth != 255 || width_ <= 0 || height_ <= 0)
            throw std::runtime_error("not a PPM image");
        pixels_ = ppm.substr(static_cast<std::size_t>(in.tellg()));
        if (pixels_.size() < static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_) * 3)
            throw std::runtime_error("short PPM image");
    }

    // The colour at a point given in the coordinates of the laid-out
    // Letter page (points, y up), wherever the paper puts it.
    [[nodiscard]] Rgb at(double x, double y) const {
        const double width = width_ * 72.0 / DPI;
        const double height = height_ * 72.0 / DPI;
        x += (width - 612) / 2;
        y += (height - 792) / 2;
        const auto column = static_cast<std::size_t>(x * DPI / 72);
        const auto row = static_cast<std::size_t>((height - y) * DPI / 72);
        const std::size_t k = (row * static_cast<std::size_t>(width_) + column) * 3;
        const auto channel = [&](std::size_t i) {
            return static_cast<unsigned char>(pixels_.at(k + i)) / 255.0;
        };
        return {channel(0), channel(1), channel(2)};
    }

    // The colour of a square of the k-th diagram of the page (from 0),
    // at the fraction (u, v) of its width and height.
    [[nodiscard]] Rgb square(int k, const char* name, double u = 0.5, double v = 0.5) const {
        const double left = 60 + 160.0 * column_of(k) + CENTRE_X;
        const double bottom = 792 - 120.0 * row_of(k) - 100 + CENTRE_Y;
        return at(left + (name[0] - 'a' + u) * SQUARE, bottom + (name[1] - '1' + v) * SQUARE);
    }

    // Pixels in the k-th diagram's cell (caption, board and the room
    // beside it) for which the test holds.
    template <typename Test> [[nodiscard]] int count_in_cell(int k, Test test) const {
        const double left = 60 + 160.0 * column_of(k) + CENTRE_X;
        const double top = 792 - 120.0 * row_of(k) + CENTRE_Y;
        // Every half point from 8 left of the cell to 156 right, 118
        // below the caption's baseline to 8 above it.
        int n = 0;
        for (int dy = 0; dy < 252; ++dy)
            for (int dx = 0; dx < 328; ++dx)
                n += test(at(left - 8 + dx * 0.5, top - 118 + dy * 0.5)) ? 1 : 0;
        return n;
    }

private:
    static double column_of(int k) { return k % 3; }
    static double row_of(int k) { return std::floor(k / 3.0); }

    int width_ = 0;
    int height_ = 0;
    std::string pixels_;
};

RunResult make_pdf(const std::string& record_path, const std::string& pdf,
                   const std::vector<std::string>& extra = {}) {
    std::vector<std::string> words = {PDF_COMMAND, record_path, "-o", pdf};
    words.insert(words.end(), extra.begin(), extra.end());
    return run_command(words);
}

int page_count(const std::string& pdf) {
    const RunResult info = run_command({"pdfinfo", pdf});
    const std::size_t at = info.out.find("Pages:");
    return at == std::string::npos ? -1 : std::atoi(info.out.c_str() + at + 6);
}

// Page n (from 1) of a PDF; the first page of a PostScript document.
Page page_of(const std::string& document, int n) {
    const TempFile image("");
    const RunResult gs = run_command({"gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE",
                                      "-sDEVICE=ppmraw", "-r" + std::to_string(DPI),
                                      "-dFirstPage=" + std::to_string(n), "-dLastPage=" + std::to_string(n),
                                      "-sOutputFile=" + image.path(), document});
    if (gs.status != 0)
        throw std::runtime_error("gs could not render " + document + ": " + gs.err);
    return Page(read_file(image.path()));
}

Page first_page(const std::string& document) { return page_of(document, 1); }

std::string scratch_pdf() {
    return ::testing::TempDir() + "tavrik-test-" + std::to_string(::getpid()) + ".pdf";
}

TEST(Prologue, SamplesRenderWithoutErrorOnAPageForEachEighteenDiagrams) {
    REQUIRE_RENDERING();
    const std::string pdf = scratch_pdf();
    struct Case {
        std::string record;
        std::vector<std::string> range;
        int diagrams;
    };
    const TempFile headers_only(record_text({}));
    for (const Case& c : {Case{SOURCE + "/examples/club-match.rec", {}, 84},
                          Case{SOURCE + "/examples/club-match.rec", {"5", "14"}, 18},
                          Case{SOURCE + "/examples/club-match.rec", {"5", "15"}, 20},
                          Case{SOURCE + "/examples/scholars-mate.rec", {}, 7},
                          Case{headers_only.path(), {}, 0}}) {
        SCOPED_TRACE(c.record + " " + std::to_string(c.range.size()));
        const RunResult result = make_pdf(c.record, pdf, c.range);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.err, "");
        // A range without diagrams still makes one page, and draws no
        // graph page; any other has one after its diagrams.
        EXPECT_EQ(page_count(pdf), c.diagrams == 0 ? 1 : (c.diagrams + 17) / 18 + 1);
        std::vector<std::string> without = c.range;
        without.emplace_back("--no-graphs");
        ASSERT_EQ(make_pdf(c.record, pdf, without).status, 0);
        EXPECT_EQ(page_count(pdf), std::max(1, (c.diagrams + 17) / 18));
    }
    std::remove(pdf.c_str());
}

TEST(Prologue, PrologueAndBodyRenderWithoutErrorFromAPipeToo) {
    REQUIRE_RENDERING();
    // Awkward captions and findings: parentheses, backslashes and a long
    // text that names no move, read through standard input.
    const TempFile record(record_text({"e2e4 1 1 1 1 (x)\\y 1 1 1 1",
                                       "d1d2 1 1 1 1 " + std::string(3000, 'Z') + " 1 1 1 1",
                                       "e1g1 99999999999999999999 1 1 -1 o-o-o 1 1 1 1"}));
    const std::string pipeline = "{ cat \"$1\"; \"$2\" \"$3\"; echo TavrikEnd; } | "
                                 "gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=nullpage -";
    const RunResult result = run_command(
        {"sh", "-c", pipeline, "sh", SOURCE + "/sheet/prologue.ps", TAVRIK_BINARY, record.path()});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, "");
}

void expect_squares_pieces_and_marks(const std::string& paper);

TEST(Prologue, BoardsShowSquaresPiecesAndTheLastMoveOnLetterAndA4) {
    REQUIRE_RENDERING();
    for (const char* paper : {"letter", "a4"}) {
        SCOPED_TRACE(paper);
        expect_squares_pieces_and_marks(paper);
    }
}

TEST(Prologue, AnUnexpectedCharacterKeepsTheRankAligned) {
    REQUIRE_RENDERING();
    // An 'X' where a piece letter belongs, then a black king on h8.
    const TempFile document(read_file(SOURCE + "/sheet/prologue.ps") +
                            "/V 11 72 mul def /L 60 def\n"
                            "L V moveto\n"
                            "R (1 e2e4 score 0 time 0) show\n"
                            "L  V 100 sub moveto\n"
                            "C ('#[X      k;        ;        ;        ;        ;        ;        ;        ;]') show\n"
                            "showpage\n"
                            "TavrikEnd\n");
    const Page page = first_page(document.path());
    // Off the king's white centre line.
    EXPECT_LT(page.square(0, "h8", 0.35, 0.35).luminance(), 0.2);
    EXPECT_GT(page.square(0, "g8").luminance(), 0.85);
    EXPECT_GT(page.square(0, "a8").luminance(), 0.85);
}

void expect_squares_pieces_and_marks(const std::string& paper) {
    const std::string pdf = scratch_pdf();
    const TempFile record(record_text({"e2e4 1 1 1 1 e7e5 1 1 1 1", "d2d4 1 1 1 1 e5d4 1 1 1 1",
                                       "g1f3 1 1 1 1 b8c6 1 1 1 1"}));
    ASSERT_EQ(make_pdf(record.path(), pdf, {"-p", paper}).status, 0);
    const Page page = first_page(pdf);
    std::remove(pdf.c_str());

    // Diagram 0 is after 1. e2e4, diagram 3 after 2... e5d4.
    const Rgb dark = page.square(0, "a3");
    const Rgb light = page.square(0, "b3");
    EXPECT_LT(dark.luminance(), 0.75);
    EXPECT_GT(light.luminance(), 0.85);
    EXPECT_GT(light.luminance() - dark.luminance(), 0.15);

    // d2 holds a white pawn after 1. e2e4 and is empty after 2... e5d4.
    const Rgb pawn = page.square(0, "d2");
    const Rgb empty = page.square(3, "d2");
    EXPECT_LT(distance(empty, dark), 0.05);
    EXPECT_GT(distance(pawn, empty), 0.3);
    // A black pawn on a light square is dark.
    EXPECT_LT(page.square(0, "d7").luminance(), 0.2);

    // e2 and e4 are marked after 1. e2e4: yellow, neither light nor dark;
    // e4's corner is clear of its pawn.
    for (const Rgb& marked : {page.square(0, "e2"), page.square(0, "e4", 0.08, 0.92)}) {
        EXPECT_GT(marked.r - marked.b, 0.35);
        EXPECT_GT(distance(marked, light), 0.3);
        EXPECT_GT(distance(marked, dark), 0.3);
    }
    // ... and not after the next move.
    EXPECT_LT(distance(page.square(1, "e2"), light), 0.05);
}

TEST(Prologue, IllegalMovesShowInRedBesideTheirDiagram) {
    REQUIRE_RENDERING();
    const std::string pdf = scratch_pdf();
    // 2. d1d2 lands on white's own pawn: the third diagram.
    const TempFile record(record_text({"e2e4 1 1 1 1 e7e5 1 1 1 1", "d1d2 1 1 1 1 b8c6 1 1 1 1"}));
    ASSERT_EQ(make_pdf(record.path(), pdf).status, 0);
    const Page page = first_page(pdf);
    std::remove(pdf.c_str());

    const auto red = [](const Rgb& c) { return c.r > 0.6 && c.g < 0.3 && c.b < 0.3; };
    EXPECT_GT(page.count_in_cell(2, red), 20);
    for (const int k : {0, 1, 3})
        EXPECT_EQ(page.count_in_cell(k, red), 0) << "diagram " << k;
}

// The text pdftotext finds on a page in a band across it, from `top`
// points below the top edge of Letter, `height` points high.
std::string text_in_band(const std::string& pdf, int page, int top, int height) {
    const std::string n = std::to_string(page);
    return run_command({"pdftotext", "-f", n, "-l", n, "-x", "0", "-y", std::to_string(top), "-W", "612",
                        "-H", std::to_string(height), pdf, "-"})
        .out;
}

// The words of the text made only of digits.
std::vector<std::string> numbers_in(const std::string& text) {
    std::vector<std::string> numbers;
    std::istringstream words(text);
    for (std::string word; words >> word;)
        if (word.find_first_not_of("0123456789") == std::string::npos)
            numbers.push_back(word);
    return numbers;
}

TEST(Booklet, EachGameHasItsTitledPagesAndEveryPageItsNumber) {
    REQUIRE_RENDERING();
    const std::string pdf = scratch_pdf();
    // 47 and 62 half-moves: three pages and four, each game with its
    // graph page after them.
    const RunResult result = make_pdf(SOURCE + "/examples/self-play.pgn", pdf);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    ASSERT_EQ(page_count(pdf), 9);
    const std::string first = "Stockfish 15.1 \u2013 Stockfish 15.1, skill 3";
    const std::string second = "Stockfish 15.1, skill 3 \u2013 Stockfish 15.1";
    const std::vector<std::string> tops = {
        first + ", Rapid self-play, 2026.12.08, 1-0", first, first,
        first + ", Rapid self-play, 2026.12.08, 1-0",
        second + ", Engine match, 2026.12.08, 0-1", second, second, second,
        second + ", Engine match, 2026.12.08, 0-1"};
    for (int page = 1; page <= 9; ++page) {
        SCOPED_TRACE("page " + std::to_string(page));
        std::string top = text_in_band(pdf, page, 0, 40);
        top.erase(top.find_last_not_of("\n\f ") + 1);
        EXPECT_EQ(top, tops[static_cast<std::size_t>(page - 1)]);
        EXPECT_EQ(numbers_in(text_in_band(pdf, page, 755, 37)), std::vector<std::string>{std::to_string(page)});
        const bool graph = page == 4 || page == 9;
        EXPECT_EQ(text_in_band(pdf, page, 40, 30).find("Evaluation, from white") != std::string::npos, graph);
    }

    // One game alone, its pages numbered from 1.
    ASSERT_EQ(make_pdf(SOURCE + "/examples/self-play.pgn", pdf, {"--game", "2", "--no-graphs"}).status, 0);
    EXPECT_EQ(page_count(pdf), 4);
    EXPECT_EQ(numbers_in(text_in_band(pdf, 4, 755, 37)), std::vector<std::string>{"4"});
    std::remove(pdf.c_str());
}

TEST(Booklet, SanCaptionsMarkTheirSquaresInTheUsualCells) {
    REQUIRE_RENDERING();
    const std::string pdf = scratch_pdf();
    const TempFile game("[White \"A\"]\n[Black \"B\"]\n\n1. e4 e5 2. Nf3 Nc6 3. O-O-O *\n", ".pgn");
    const RunResult result = make_pdf(game.path(), pdf);
    // O-O-O is no legal move here: the PDF holds what came before it.
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "tavrik: " + game.path() + ": game 1 (A - B): move 3 O-O-O: no such legal move\n");
    ASSERT_EQ(page_count(pdf), 2); // the diagrams' page and the graph's
    const Page page = first_page(pdf);
    std::remove(pdf.c_str());
    const Rgb light = page.square(1, "b3");
    const auto marked = [&](const Rgb& c) {
        return c.r - c.b > 0.35 && distance(c, light) > 0.3;
    };
    // After 1. e4 and 2. Nf3 (g1 to f3): origin and target marked.
    EXPECT_TRUE(marked(page.square(0, "e2")));
    EXPECT_TRUE(marked(page.square(2, "g1", 0.1, 0.9)));
    EXPECT_TRUE(marked(page.square(2, "f3", 0.1, 0.9)));
    EXPECT_FALSE(marked(page.square(2, "e2")));
}

TEST(TavrikPdf, RefusesOptionsItDoesNotKnow) {
    REQUIRE_RENDERING();
    const std::string pdf = scratch_pdf();
    std::remove(pdf.c_str());
    const std::string usage =
        "Usage: tavrik-pdf [--pgn] [--game N] [--no-graphs] [--no-eval-bar] [--flip] [--player NAME] "
        "[--layout 3x6|2x3] file [start [end] ] [-o FILE] [-p PAPER]\n"
        "       tavrik-pdf --worksheet [--level inaccuracy|mistake|blunder] [--player NAME] [--game N] file.pgn "
        "[-o FILE] [-p PAPER]\n";
    const RunResult misspelt = make_pdf(SOURCE + "/examples/scholars-mate.rec", pdf, {"--no-graph"});
    EXPECT_EQ(misspelt.status, 1);
    EXPECT_EQ(misspelt.err, "tavrik-pdf: unknown option '--no-graph'\n" + usage);
    EXPECT_NE(::access(pdf.c_str(), F_OK), 0);
    EXPECT_EQ(make_pdf(SOURCE + "/examples/scholars-mate.rec", pdf, {"-x"}).status, 1);
    const RunResult layout = make_pdf(SOURCE + "/examples/scholars-mate.rec", pdf, {"--layout", "4x4"});
    EXPECT_EQ(layout.status, 1);
    EXPECT_EQ(layout.err, "tavrik-pdf: --layout takes 3x6 or 2x3, not '4x4'\n" + usage);
    EXPECT_NE(::access(pdf.c_str(), F_OK), 0);
    // Negative numbers are still move numbers.
    const RunResult negative = make_pdf(SOURCE + "/examples/scholars-mate.rec", pdf, {"-3", "-1", "--no-graphs"});
    EXPECT_EQ(negative.status, 0);
    EXPECT_EQ(page_count(pdf), 1);
    std::remove(pdf.c_str());
}

// The first page of the prologue and body given, as raw RGB pixels at
// 144 dpi on Letter, without anti-aliasing.
std::string raw_first_page(const std::string& prologue, const std::string& body) {
    // The body may begin with settings of the prologue.
    const TempFile document(read_file(prologue) + body + "TavrikEnd\n");
    const TempFile image("");
    const RunResult gs = run_command({"gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=ppmraw",
                                      "-r144", "-sPAPERSIZE=letter", "-dLastPage=1",
                                      "-sOutputFile=" + image.path(), document.path()});
    if (gs.status != 0 || !gs.err.empty())
        throw std::runtime_error("gs could not render: " + gs.err);
    // One page per file is enough: the first image's pixels.
    const std::string ppm = read_file(image.path());
    const std::size_t pixels = static_cast<std::size_t>(1224) * 1584 * 3;
    if (ppm.size() < pixels)
        throw std::runtime_error("short image");
    const std::size_t start = ppm.find("\n255\n");
    return ppm.substr(start + 5, pixels);
}

// Pixels that differ between two renderings of a Letter page at 144 dpi,
// not counting those whose colour stands next to them in the other image:
// an edge that rounds the other way is the same look, a lost line is not.
int differing_pixels(const std::string& a, const std::string& b) {
    constexpr int WIDTH = 1224;
    constexpr int HEIGHT = 1584;
    const auto at = [](const std::string& image, int x, int y) {
        return std::string_view(image).substr((static_cast<std::size_t>(y) * WIDTH + static_cast<std::size_t>(x)) * 3, 3);
    };
    const auto near = [&](const std::string& image, int x, int y, std::string_view colour) {
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
                if (at(image, x + dx, y + dy) == colour)
                    return true;
        return false;
    };
    int n = 0;
    for (int y = 1; y + 1 < HEIGHT; ++y)
        for (int x = 1; x + 1 < WIDTH; ++x)
            if (at(a, x, y) != at(b, x, y) && !(near(a, x, y, at(b, x, y)) && near(b, x, y, at(a, x, y))))
                ++n;
    return n;
}

// Pieces drawn from cached glyphs and the empty board from a form must
// look as the pieces and boards drawn afresh every time did.
TEST(Prologue, LooksAsItDidBeforeItsPiecesWereCached) {
    REQUIRE_RENDERING();
    const std::string reference = SOURCE + "/tests/data/reference-prologue.ps";
    const std::string current = SOURCE + "/sheet/prologue.ps";
    const TempFile findings(record_text({"e2e4 1 1 1 1 e7e5 1 1 1 1", "d1d2 1 1 1 1 b8c6 1 1 1 1",
                                         "g1f3 1 1 1 1 X 1 1 1 1"}));
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{SOURCE + "/examples/club-match.rec", "1", "10"},
          std::vector<std::string>{SOURCE + "/examples/club-match.rec", "30"},
          std::vector<std::string>{findings.path()}, std::vector<std::string>{SOURCE + "/examples/self-play.pgn"}}) {
        SCOPED_TRACE(args.front());
        std::vector<std::string> words = {TAVRIK_BINARY};
        words.insert(words.end(), args.begin(), args.end());
        const std::string body = run_command(words).out;
        ASSERT_FALSE(body.empty());
        // The white lines of the black pieces alone make over a thousand.
        // The reference knew nothing of the numbers a book caption hands on.
        EXPECT_LT(differing_pixels(raw_first_page(reference, "/E { 5 { pop } repeat } def\n" + body),
                                   raw_first_page(current, "/EvalBars false def\n" + body)),
                  20);
    }
}

// Where the k-th diagram's board stands on its page, in laid-out points.
double board_left(int k) { return 60 + 160.0 * (k % 3) + CENTRE_X; }
double board_bottom(int k) {
    const int row = k / 3;
    return 792 - 120.0 * row - 100 + CENTRE_Y;
}

// White's share of the k-th diagram's evaluation bar, as drawn: the light
// part of the bar's middle column against the whole.
double bar_share(const Page& page, int k) {
    const double x = board_left(k) + 8 * SQUARE + 4;
    int light = 0;
    int dark = 0;
    // Every quarter point up the bar, clear of its ends.
    for (int step = 3; step < 4 * 8 * SQUARE - 2; ++step) {
        const double l = page.at(x, board_bottom(k) + step * 0.25).luminance();
        light += l > 0.8 ? 1 : 0;
        dark += l < 0.35 ? 1 : 0;
    }
    return light + dark == 0 ? -1 : static_cast<double>(light) / (light + dark);
}

double expected_share(double score) { return 1 / (1 + std::pow(10.0, -score / 400)); }

TEST(EvalBar, ShowsWhitesShareOfEveryScore) {
    REQUIRE_RENDERING();
    const std::string pdf = scratch_pdf();
    // Scores as recorded, from the mover's view: black's are turned.
    const TempFile record(record_text({"e2e4 200 1 1 5 e7e5 200 1 1 5", "d2d4 99999 1 1 1 d7d5 99999 1 1 1",
                                       "g1f3 0 1 1 0 b8c6 -300 1 1 9", "f1c4 -60 1 1 7 g8f6 0 1 1 4"}));
    ASSERT_EQ(make_pdf(record.path(), pdf).status, 0);
    const Page page = first_page(pdf);
    const std::vector<double> expected = {expected_share(200), expected_share(-200), 1, 0,
                                          0.5, expected_share(300), expected_share(-60), 0.5};
    for (std::size_t k = 0; k < expected.size(); ++k)
        EXPECT_NEAR(bar_share(page, static_cast<int>(k)), expected[k], 0.02) << "diagram " << k;

    // No evaluation (score and time 0) is outlined dashed: gaps in the
    // outline's right edge, which a known level score does not have.
    const auto gaps = [&](int k) {
        int n = 0;
        const double x = board_left(k) + 8 * SQUARE + 2 + 3.75; // just inside its edge
        for (int step = 8; step < 4 * 8 * SQUARE - 8; ++step)
            n += page.at(x, board_bottom(k) + step * 0.25).luminance() > 0.8 ? 1 : 0;
        return n;
    };
    EXPECT_GT(gaps(4), 20);
    EXPECT_EQ(gaps(7), 0);

    ASSERT_EQ(make_pdf(record.path(), pdf, {"--no-eval-bar"}).status, 0);
    // Nothing dark where the bar would be.
    EXPECT_EQ(bar_share(first_page(pdf), 1), 1) << "a bar with --no-eval-bar";
    std::remove(pdf.c_str());
}

TEST(EvalBar, FindingsLabelsAndBarsKeepApart) {
    REQUIRE_RENDERING();
    const std::string pdf = scratch_pdf();
    // 2. d1d2 lands on white's own pawn: a finding with the third diagram.
    const TempFile record(record_text({"e2e4 1 1 1 1 e7e5 1 1 1 1",
                                       "d1d2 1 1 1 1 " + std::string(80, 'Z') + " 1 1 1 1"}));
    ASSERT_EQ(make_pdf(record.path(), pdf).status, 0);
    const Page page = first_page(pdf);
    std::remove(pdf.c_str());
    for (const int k : {2, 3}) {
        SCOPED_TRACE(k);
        const auto red = [](const Rgb& c) { return c.r > 0.6 && c.g < 0.3 && c.b < 0.3; };
        double left_most = 1e9;
        double right_most = -1e9;
        // Every half point of the cell and a little beyond.
        for (int row = 0; row < 2 * (8 * SQUARE + 14); ++row)
            for (int column = 0; column < 2 * 175; ++column)
                if (const double x = board_left(k) - 10 + column * 0.5;
                    red(page.at(x, board_bottom(k) - 10 + row * 0.5))) {
                    left_most = std::min(left_most, x);
                    right_most = std::max(right_most, x);
                }
        ASSERT_LT(left_most, 1e9) << "no finding shown";
        // Right of the bar, and short of the next cell's rank digits.
        EXPECT_GT(left_most, board_left(k) + 8 * SQUARE + 6.5);
        EXPECT_LT(right_most, board_left(k) + 160 - 6);
        // The bar is whole beside its finding.
        EXPECT_GE(bar_share(page, k), 0);
    }
}

// The middle of the k-th of n half-moves' columns on the graph page.
double graph_x(int k, int n) { return 60 + (k + 0.5) * (470.0 / n) + CENTRE_X; }

TEST(GraphPage, CurveFollowsTheScoresAndBarsTheTimes) {
    REQUIRE_RENDERING();
    const std::string pdf = scratch_pdf();
    // White's view rises steadily; white takes longer and longer, black
    // shorter and shorter.
    std::vector<std::string> lines;
    constexpr int MOVES = 12;
    for (int m = 0; m < MOVES; ++m) {
        const std::vector<std::string> knights = {"g1f3", "g8f6", "f3g1", "f6g8"};
        const int white = 40 * (2 * m);
        const int black = 40 * (2 * m + 1);
        lines.push_back(knights[static_cast<std::size_t>(m % 2 * 2)] + " " + std::to_string(white) + " 1 1 " + std::to_string(10 * (m + 1)) +
                        " " + knights[static_cast<std::size_t>(m % 2 * 2 + 1)] + " " + std::to_string(-black) + " 1 1 " +
                        std::to_string(10 * (MOVES - m)));
    }
    const TempFile record(record_text(lines));
    ASSERT_EQ(make_pdf(record.path(), pdf).status, 0);
    // 24 diagrams: two pages, and the graph's.
    ASSERT_EQ(page_count(pdf), 3);
    const Page page = page_of(pdf, 3);
    std::remove(pdf.c_str());
    constexpr int N = 2 * MOVES;

    // The curve: the top of the light area above the midline.
    const auto curve = [&](int k) {
        for (int step = 2; step < 4 * 150; ++step)
            if (const double y = 770 + CENTRE_Y - step * 0.25; page.at(graph_x(k, N), y).luminance() > 0.9)
                return y;
        return 0.0;
    };
    for (int k = 0; k + 4 < N; k += 4)
        EXPECT_LT(curve(k), curve(k + 4)) << "half-moves " << k << " and " << k + 4;

    // A bar's top: the first dark pixel down from the top of its panel.
    const auto bar_top = [&](int k, double panel_top, double panel_bottom) {
        for (int step = 4; step < 4 * (panel_top - panel_bottom); ++step)
            if (const double y = panel_top + CENTRE_Y - step * 0.25; page.at(graph_x(k, N), y).luminance() < 0.5)
                return y;
        return panel_bottom + CENTRE_Y;
    };
    for (int k = 0; k + 4 < N; k += 4) {
        EXPECT_LT(bar_top(k, 410, 290), bar_top(k + 4, 410, 290)) << "white's half-move " << k;
        EXPECT_GT(bar_top(k + 1, 250, 130), bar_top(k + 5, 250, 130)) << "black's half-move " << k + 1;
    }
}

TEST(TavrikPdf, FailuresLeaveNoOutputFile) {
    REQUIRE_RENDERING();
    const std::string pdf = scratch_pdf();
    std::remove(pdf.c_str());

    const RunResult missing = make_pdf("/nonexistent/game.rec", pdf);
    EXPECT_NE(missing.status, 0);
    EXPECT_EQ(missing.err, "tavrik: /nonexistent/game.rec: No such file or directory\n");
    EXPECT_NE(::access(pdf.c_str(), F_OK), 0) << "an output file was left behind";

    const RunResult bad_paper = make_pdf(SOURCE + "/examples/scholars-mate.rec", pdf, {"-p", "nopaper"});
    EXPECT_NE(bad_paper.status, 0);
    EXPECT_NE(bad_paper.err.find("Ghostscript could not make the PDF"), std::string::npos);
    EXPECT_NE(::access(pdf.c_str(), F_OK), 0) << "an output file was left behind";

    const RunResult no_directory = make_pdf(SOURCE + "/examples/scholars-mate.rec", "/nonexistent/x.pdf");
    EXPECT_NE(no_directory.status, 0);
    EXPECT_NE(no_directory.err.find("tavrik-pdf: "), std::string::npos);

    // A directory named as the output is not filled with a file of ours.
    const std::string directory = ::testing::TempDir();
    const RunResult into_directory = make_pdf(SOURCE + "/examples/scholars-mate.rec", directory);
    EXPECT_NE(into_directory.status, 0);
    EXPECT_EQ(into_directory.err, "tavrik-pdf: " + directory + ": is a directory\n");

    const RunResult full = run_command({PDF_COMMAND, SOURCE + "/examples/scholars-mate.rec"}, "",
                                       "> /dev/full");
    EXPECT_NE(full.status, 0);
    EXPECT_NE(full.err.find("tavrik-pdf: write error"), std::string::npos);
}

TEST(TavrikPdf, WritesIntoAnOutputThatIsNoRegularFile) {
    REQUIRE_RENDERING();
    // A pipe stands for /dev/null and terminals: written into, never
    // replaced by a file of ours.
    const std::string fifo = scratch_pdf() + ".fifo";
    const std::string script =
        "mkfifo \"$1\" && { timeout 20 head -c 5 \"$1\" & } && \"$2\" \"$3\" -o \"$1\"; s=$?; wait; "
        "[ -p \"$1\" ] && echo ' still a pipe'; rm -f \"$1\"; exit $s";
    const RunResult run =
        run_command({"sh", "-c", script, "sh", fifo, PDF_COMMAND, SOURCE + "/examples/scholars-mate.rec"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "%PDF- still a pipe\n");
}

TEST(TavrikPdf, WritesToStandardOutputWithoutAnOption) {
    REQUIRE_RENDERING();
    const RunResult result = run_command({PDF_COMMAND, SOURCE + "/examples/scholars-mate.rec"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out.rfind("%PDF-", 0), 0U);
    EXPECT_NE(result.out.find("%%EOF"), std::string::npos);
}

} // namespace
} // namespace tavrik

namespace tavrik {
namespace {

// The luminance of the k-th diagram's bar at a fraction of its height,
// from its foot.
double bar_luminance(const Page& page, int k, double fraction) {
    return page.at(board_left(k) + 8 * SQUARE + 4, board_bottom(k) + fraction * 8 * SQUARE).luminance();
}

TEST(View, FlippedBoardsShowRankOneAtTheTopAndTheirBarsTurned) {
    REQUIRE_RENDERING();
    const std::string pdf = scratch_pdf();
    // White +2.00 after 1. e2e4: white's share of the bar is three quarters.
    const TempFile record(record_text({"e2e4 200 1 1 5"}));
    for (const bool flipped : {false, true}) {
        SCOPED_TRACE(flipped);
        ASSERT_EQ(make_pdf(record.path(), pdf, flipped ? std::vector<std::string>{"--flip"}
                                                       : std::vector<std::string>{}).status, 0);
        const Page page = first_page(pdf);
        // The top right corner holds a1's white rook, or h8's black one;
        // e2, marked, stands where d7 would.
        EXPECT_EQ(page.square(0, "h8").luminance() > 0.85, flipped);
        EXPECT_EQ(page.square(0, "h8").luminance() < 0.2, !flipped);
        const Rgb marked = page.square(0, flipped ? "d7" : "e2");
        EXPECT_GT(marked.r - marked.b, 0.35);
        EXPECT_LT(page.square(0, flipped ? "e2" : "d7").r - page.square(0, flipped ? "e2" : "d7").b, 0.35);
        // White's part of the bar on white's side.
        EXPECT_EQ(bar_luminance(page, 0, 0.1) > 0.8, !flipped);
        EXPECT_EQ(bar_luminance(page, 0, 0.9) > 0.8, flipped);
        EXPECT_NEAR(bar_share(page, 0), expected_share(200), 0.02);
    }
    std::remove(pdf.c_str());
}

TEST(View, PlayerTurnsTheGamesOfBlack) {
    REQUIRE_RENDERING();
    const std::string pdf = scratch_pdf();
    // Skill 3 has black in the first game and white in the second, whose
    // first diagram stands on the fifth page; "engine" plays in neither.
    const std::string pgn = SOURCE + "/examples/self-play.pgn";
    for (const auto& [name, turned] : std::vector<std::pair<std::string, std::vector<bool>>>{
             {"SKILL 3", {true, false}}, {"engine", {false, false}}}) {
        SCOPED_TRACE(name);
        ASSERT_EQ(make_pdf(pgn, pdf, {"--player", name}).status, 0);
        for (const int n : {1, 5})
            EXPECT_EQ(page_of(pdf, n).square(0, "h8").luminance() > 0.85, turned[n == 5 ? 1 : 0]) << n;
    }
    const TempFile second("[White \"Anna\"]\n[Black \"Boris\"]\n\n1. e4 *\n\n"
                          "[White \"Boris\"]\n[Black \"Anna\"]\n\n1. e4 *\n", ".pgn");
    ASSERT_EQ(make_pdf(second.path(), pdf, {"--player", "anna", "--no-graphs"}).status, 0);
    EXPECT_LT(page_of(pdf, 1).square(0, "h8").luminance(), 0.2);
    EXPECT_GT(page_of(pdf, 2).square(0, "h8").luminance(), 0.85);
    std::remove(pdf.c_str());
}

TEST(View, LargeLayoutHoldsSixLargerBoardsInReadingOrder) {
    REQUIRE_RENDERING();
    const std::string pdf = scratch_pdf();
    // Each move lands on a square of its own: the marks tell the diagrams
    // apart.
    const TempFile record(record_text({"e2e4 1 1 1 1 e7e5 1 1 1 1", "d2d4 1 1 1 1 d7d5 1 1 1 1",
                                       "g1f3 1 1 1 1 b8c6 1 1 1 1", "c2c4 1 1 1 1"}));
    ASSERT_EQ(make_pdf(record.path(), pdf, {"--layout", "2x3"}).status, 0);
    EXPECT_EQ(page_count(pdf), 3); // six, one, and the graph page
    const Page page = first_page(pdf);
    constexpr double SCALE = 1.5;
    // The body's grid, scaled about its top left, (60, 800).
    const auto square = [&](int k, const char* name, double u = 0.5, double v = 0.5) {
        const int row = k / 2;
        const double left = 60 + SCALE * 160 * (k % 2);
        const double bottom = 800 - SCALE * (800 - (792 - 180.0 * row - 100));
        return page.at(left + CENTRE_X + (name[0] - 'a' + u) * SCALE * SQUARE,
                       bottom + CENTRE_Y + (name[1] - '1' + v) * SCALE * SQUARE);
    };
    const std::vector<const char*> targets = {"e4", "e5", "d4", "d5", "f3", "c6"};
    for (int k = 0; k < 6; ++k) {
        SCOPED_TRACE(k);
        // Off the piece, near the square's edge: marked yellow.
        const Rgb target = square(k, targets[static_cast<std::size_t>(k)], 0.08, 0.92);
        EXPECT_GT(target.r - target.b, 0.35);
        EXPECT_LT(square(k, "a3").luminance(), 0.75); // dark
        EXPECT_GT(square(k, "b3").luminance(), 0.85); // light
    }
    std::remove(pdf.c_str());
}

TEST(CleanPdf, PopplerRendersEveryPageWithoutAWarning) {
    REQUIRE_RENDERING();
    if (!have("pdftoppm"))
        GTEST_SKIP() << "needs pdftoppm (poppler-utils)";
    const std::string pdf = scratch_pdf();
    for (const std::vector<std::string>& options :
         {std::vector<std::string>{}, std::vector<std::string>{"--layout", "2x3", "--flip"}}) {
        ASSERT_EQ(make_pdf(SOURCE + "/examples/club-match.rec", pdf, options).status, 0);
        for (const char* dpi : {"72", "300", "600"}) {
            const RunResult render = run_command({"pdftoppm", "-r", dpi, "-f", "1", "-l", "2", pdf}, "", "> /dev/null");
            EXPECT_EQ(render.status, 0);
            EXPECT_EQ(render.err, "") << dpi << " dpi";
        }
    }
    std::remove(pdf.c_str());
}

// The words of the text, one each, wherever pdftotext broke its lines.
std::vector<std::string> words_of(const std::string& text) {
    std::vector<std::string> words;
    std::istringstream in(text);
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}

TEST(Book, EveryWordOfTheCommentaryIsInThePdf) {
    REQUIRE_RENDERING();
    const std::string pdf = scratch_pdf();
    // A Latin-1 file, as older databases export them; a comment full of
    // what PostScript strings hold specially; a long one and a very long
    // word; nested variations with comments of their own.
    std::string story;
    for (int k = 0; k < 400; ++k)
        story += "word" + std::to_string(k) + " ";
    const std::string giant(1500, 'q');
    const TempFile game("[White \"J\xfcrgen\"]\n[Black \"Ren\xe9" "e\"]\n\n"
                        "{Vor dem Zug: sch\xf6n} 1. e4 {[%eval 0.00] ) unbalanced \\ (paren} e5 {" + story +
                        giant + "} (1... c5 {Sicilian} 2. Nf3 (2. c3 {Alapin} d5) d6) 2. Nf3 $14 *\n",
                        ".pgn");
    const RunResult made = make_pdf(game.path(), pdf);
    EXPECT_EQ(made.status, 0);
    EXPECT_EQ(made.err, "");
    const std::vector<std::string> found = words_of(run_command({"pdftotext", pdf, "-"}).out);
    const auto has = [&](const std::string& word) { return std::find(found.begin(), found.end(), word) != found.end(); };
    for (const std::string& word : words_of(story + " J\u00fcrgen Ren\u00e9e sch\u00f6n ) unbalanced \\ (paren "
                                            "Sicilian Alapin 1... c5 2. Nf3 (2. c3 d5) d6 Nf3 +="))
        EXPECT_TRUE(has(word)) << word;
    // The very long word, set in pieces that fit the lines, whole on the
    // notes page (the boards' letters hold queens).
    const std::string text = run_command({"pdftotext", "-f", "2", "-l", "2", pdf, "-"}).out;
    EXPECT_EQ(std::count(text.begin(), text.end(), 'q'), 1500);

    // A given 0.00 is a level game; no evaluation is dashed, unknown.
    const Page page = first_page(pdf);
    const auto gaps = [&](int k) {
        int n = 0;
        const double x = board_left(k) + 8 * SQUARE + 2 + 3.75;
        for (int step = 8; step < 4 * 8 * SQUARE - 8; ++step)
            n += page.at(x, board_bottom(k) + step * 0.25).luminance() > 0.8 ? 1 : 0;
        return n;
    };
    EXPECT_EQ(gaps(0), 0);
    EXPECT_GT(gaps(1), 20);
    std::remove(pdf.c_str());
}

} // namespace
} // namespace tavrik

// The simulated printer (zorvan-printer) and the PNG-to-raster tool, through their
// binaries: the other tests trust the printer's decoding, so it is checked byte-exact.
#include <cups/raster.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>


#include "support/Pictures.h"
#include "support/Process.h"

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;
testsupport::TempDir scratch;
int files = 0;

// A file holding `bytes`, and a script step that writes them to the printer.
std::string put(const std::string& bytes)
{
    const std::string f = scratch.file("in" + std::to_string(++files));
    testsupport::writeFile(f, bytes);
    return f;
}

std::string send(const std::string& bytes) { return "cat '" + put(bytes) + "'; "; }

// A script step that sends a status query and copies an `n`-byte reply, in hex, to standard error.
std::string ask(int n = 5)
{
    return "printf '\\x16\\x04\\x04'; head -c " + std::to_string(n) + " <&3 | od -An -tx1 >&2; ";
}

// GS v 0: a raster command with its data.
std::string raster(int bytesPerRow, int rows, const std::string& data, int mode = 0)
{
    return std::string{'\x1d', 'v', '0', static_cast<char>(mode), static_cast<char>(bytesPerRow), '\0',
                       static_cast<char>(rows & 0xFF), static_cast<char>(rows >> 8)} +
           data;
}

const std::string kInit = "\x1b\x40", kQuery = "\x16\x04\x04", kQuiet = "printf '\\x16\\x04\\x04'; head -c 5 <&3 >/dev/null; ";
const std::string kJob = raster(72, 8, std::string(576, '\xff')) + "\x1b\x4a\x20";  // 8 rows, a 32-dot feed
const std::uint8_t kDots[3][2] = {{0xff, 0x00}, {0xf0, 0x0f}, {0xaa, 0x55}};
const std::string kDotRows(reinterpret_cast<const char*>(kDots), 6);

struct Case {
    const char* what;
    std::vector<std::string> args;
    std::string script;  // run mode: bash -c SCRIPT; decode mode (the input) when empty
    std::string input;
    int exitStatus;
    std::string replies;  // what the script copied to standard error, exactly
    std::vector<std::string> lines;
    Pairs summary;
    double minSeconds = 0, maxSeconds = 20;
};

const Case kCases[] = {
    {"a centred raster after a feed, then one on the left after a reset", {"--speed", "0"},
     send(kInit + "\x1d\x83\x04\x1b\x61\x01\x1b\x4a\x10" + raster(2, 3, kDotRows) +
          kInit + raster(2, 3, kDotRows)) + ask(), "",
     0, " 10 04 04 20 00\n",
     {"  initialise\n", "  density 4\n", "  justification 1 (centre)\n", "  feed 16 dots\n",
      "raster #1: 2 x 3 bytes (16 x 3 dots), mode 0\n", "raster #2: 2 x 3 bytes (16 x 3 dots), mode 0\n",
      "status query #1 -> 10 04 04 20 00 (ready)"},
     {{"rasters", "2"}, {"raster_rows", "6"}, {"copies_acknowledged", "1"}, {"paper_rows", "22"}, {"errors", "0"},
      {"reply_writes_dropped", "0"}}},
    {"the whole command set", {}, "",
     std::string("\x1b\x6d\x1b\x69\x1d\x56\x41\x00\x1d\x56\x42\x00", 12) + "\x1b\x05\x03\x1b\x03\x01\x1b\x06\x01\x1b\x01\x02" +
         std::string("\x10\x04\x05\x10\x04\x04", 6) + std::string(600, '\0') + kInit + kInit + "\x1b\x4a\xff" +
         raster(1, 1, "\x80", 0x33) + raster(1, 1, "\x80", 3) + "\x7f\x1b",
     0, "",
     {"  partial cut\n", "  full cut\n", "full cut (GS V 65, feed 0)", "partial cut (GS V 66, feed 0)", "standby time 3",
      "self test 1", "button print 1", "paper mode 2", "battery query DLE EOT 5", "status request DLE EOT 4",
      "unknown bytes: 600", "feed 255 dots", "(16 x 2 dots), mode 51\n", "(16 x 2 dots), mode 3\n", "ERROR: input ended inside a command"},
     {{"cuts", "4"}, {"initialise", "2"}, {"unknown_bytes", "601"}, {"unfinished_command", "yes"}, {"mode", "decode"}}},
    // Headers that disagree with their data: too few rows leave unknown bytes (as does a GS v
    // other than GS v 0, even at the very end); too many swallow the query and the next copy;
    // data that stops short leaves the raster unfinished.
    {"too few rows announced", {}, "", raster(2, 1, "\xff\xff\x81\x81") + kQuery + "\x1d\x83\x07\x1d\x76\x31", 0, "",
     {"ERROR: 2 unknown bytes right after raster #1", "density 7\n"}, {{"errors", "1"}, {"queries", "1"}, {"unknown_bytes", "5"}, {"unfinished_command", "no"}}},
    {"too many rows announced", {}, "", raster(2, 4, std::string(4, '\0')) + kQuery + kInit + "\x1b", 0, "",
     {"status query swallowed as image"},
     {{"queries", "0"}, {"initialise", "0"}, {"swallowed_query_patterns", "1"}, {"unfinished_raster", "no"}}},
    {"data stops short", {"--speed", "0"}, send(raster(4, 10, std::string(20, '\xff'))) + "exit 7", "", 7, "",
     {"ERROR: input ended inside raster #1: 20 of 40 data bytes missing (5 of 10 rows complete)"},
     {{"exit_status", "7"}, {"unfinished_raster", "yes"}, {"unfinished_raster_missing_bytes", "20"}, {"rows_printed", "5"}}},
    {"commands split across writes", {"--speed", "0"},
     "printf '\\x1d\\x76'; sleep 0.1; printf '\\x30\\x00\\x01\\x00\\x02'; sleep 0.1; printf '\\x00\\xff'; sleep 0.1; "
     "printf '\\x81\\x16'; sleep 0.1; printf '\\x04\\x04'; head -c 5 <&3 | od -An -tx1 >&2",
     "", 0, " 10 04 04 20 00\n", {"raster #1: 1 x 2 bytes (8 x 2 dots), mode 0"},
     {{"rows_printed", "2"}, {"copies_acknowledged", "1"}, {"unknown_bytes", "0"}}},
    {"a narrow head", {"--speed", "0", "--width", "384"}, send(raster(72, 4, std::string(288, '\xff'))), "", 0, "",
     {"CLIPPED to the head's 384 dots"}, {{"clipped_rows", "4"}, {"paper_width", "384"}}},
    // Query 1 gets stray bytes and comes in two parts 100 ms apart, query 2 300 ms late, query 8 no reply.
    {"status script", {"--speed", "0", "--status",
                       "1:ready+stray=ff01+split=100,2:cover+delay=300,3:paperout,4:hot,5:skew,6:0x14,7:raw=100404,"
                       "8:none,9:wrongleader,10-:cover|paperout"},
     ask(7) + ask() + ask() + ask() + ask() + ask() + ask(3) + "printf '\\x16\\x04\\x04'; " + ask() +
         ask() + ask(),
     "", 0,
     " ff 01 10 04 04 20 00\n 10 04 04 24 00\n 10 04 04 00 00\n 10 04 04 30 00\n 10 04 04 a0 00\n 10 04 04 14 00\n"
     " 10 04 04\n 10 04 05 20 00\n 10 04 04 04 00\n 10 04 04 04 00\n",
     {"status query #8 -> no reply", "(cover open, paper out)", "split 100 ms after stray FF 01"},
     {{"queries", "11"}, {"queries_unanswered", "1"}}, 0.35},
    // A printer reporting an error prints and feeds nothing; the summary counts what it refused.
    {"errors reported", {"--speed", "0", "--status", "1:cover,2:hot,ready"},
     kQuiet + send(kJob) + kQuiet + send(kJob) + kQuiet + send(kJob), "", 0, "",
     {"NOT PRINTED: printer reports cover open", "NOT FED: printer reports cover open",
      "NOT PRINTED: printer reports overheating"},
     {{"printed_while_error", "2"}, {"rasters_printed", "1"}, {"paper_rows", "40"}}},
    // 400 rows at 100 mm/s and 8 dots/mm take half a second: the reply waits for them.
    {"a slow printer", {"--speed", "100"}, send(raster(72, 400, std::string(72 * 400, '\x0f'))) + ask(), "", 0,
     " 10 04 04 20 00\n", {}, {{"copies_acknowledged", "1"}}, 0.45},
    {"a stalled printer", {"--speed", "0", "--stall-after", "100", "--timeout", "1"}, send(std::string(1 << 20, '\0')), "",
     128 + 15, "", {"note: timeout after 1"}, {{"stalled", "yes"}, {"timed_out", "yes"}, {"bytes_in", "100"}}},
    {"a killed program", {}, "kill -9 $$", "", 137, "", {}, {}},
    // A background reader of fd 3 keeps the printer's input open; the printer must not wait for it.
    // The picture holds 25 m (200000 rows); 785 feeds of 255 rows go past it.
    {"25 m of paper", {"--width", "8"}, "", [] { std::string s; while (s.size() < 785 * 3) s += "\x1b\x4a\xff"; return s; }(), 0, "",
     {"ERROR: the picture holds at most 200000 rows"}, {{"paper_rows", "200000"}, {"paper_truncated", "yes"}}},
    {"a reader left behind", {"--speed", "0"}, "(head -c 5 <&3 | od -An -tx1) & exit 4", "", 4, "", {}, {}, 0, 10},
    {"a bad range", {"--status", "1-x:ready"}, "true", "", 2, "zorvan-printer: ERROR: status script: bad query range '1-x' (see --help)\n", {}, {}},
    {"a bad state", {"--status", "3:melted"}, "true", "", 2, "zorvan-printer: ERROR: status script: unknown state 'melted' (see --help)\n", {}, {}},
};

TEST(SimulatedPrinter, DecodesAnswersAndCounts)
{
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        const std::string out = scratch.file("out" + std::to_string(++files));
        std::vector<std::string> argv = {testsupport::builtProgram("zorvan-printer"), "--out", out};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        if (!c.script.empty()) argv.insert(argv.end(), {"--", "/bin/bash", "-c", c.script});
        testsupport::ProcessOptions po;
        po.stdinData = c.input;
        po.timeoutSeconds = 30;
        const auto r = testsupport::runProcess(argv, po);
        EXPECT_EQ(r.exitStatus, c.exitStatus) << r.err;
        EXPECT_TRUE(c.replies.empty() || r.err == c.replies) << r.err;
        EXPECT_TRUE(r.seconds >= c.minSeconds && r.seconds < c.maxSeconds) << r.seconds;
        const std::string listing = testsupport::readFile(out + "/listing.txt");
        for (const auto& l : c.lines) EXPECT_NE(listing.find(l), std::string::npos) << l << " in\n" << listing;
        auto summary = testsupport::readKeyValues(out + "/summary.txt");
        for (const auto& [k, v] : c.summary) EXPECT_EQ(summary[k], v) << k;
        if (&c != &kCases[0]) continue;
        // The first job's paper, dot for dot: 16 blank feed rows, the raster centred,
        // then the same raster on the left, as a reset sets the justification back.
        const auto paper = testsupport::readPng(out + "/paper.png");
        ASSERT_EQ(paper.width, 576);
        ASSERT_EQ(paper.height, 22);
        for (int y = 0; y < 22; ++y)
            for (int x = 0; x < 576; ++x) {
                const int d = x - (y < 19 ? 280 : 0);
                const bool dot = y >= 16 && d >= 0 && d < 16 && (kDots[(y - 16) % 3][d / 8] & (0x80 >> d % 8));
                ASSERT_EQ(paper.at(x, y), dot ? 0 : 255) << x << "," << y;
            }
    }
}

// A status file rewritten while the printer runs (at once, and to another size:
// the file's time may not have moved) changes what it reports, noted once.
TEST(SimulatedPrinter, FollowsItsStatusFile)
{
    const std::string status = scratch.file("status"), out = scratch.file("out-status");
    testsupport::writeFile(status, "ready\n");
    const auto r = testsupport::runProcess({testsupport::builtProgram("zorvan-printer"), "--out", out, "--speed", "0",
                                            "--status-file", status, "--", "/bin/bash", "-c",
                                            "printf '1-:cover\\n' > '" + status + "'; " + kQuiet});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    const std::string listing = testsupport::readFile(out + "/listing.txt");
    const std::size_t at = listing.find("note: status file");
    EXPECT_NE(listing.find("note: status file changed; the printer now reports cover open"), std::string::npos) << listing;
    EXPECT_EQ(listing.find("note: status file", at + 1), std::string::npos) << listing;
}

TEST(SimulatedPrinter, WorksAsACupsBackend)
{
    const std::string link = scratch.file("zorvan-sim"), job = put(kInit + raster(72, 2, std::string(144, '\xff')) + kQuery);
    ASSERT_EQ(::symlink(testsupport::builtProgram("zorvan-printer").c_str(), link.c_str()), 0);
    EXPECT_EQ(testsupport::runProcess({link}).out.rfind("direct zorvan-sim \"", 0), 0u);
    testsupport::ProcessOptions po;
    // Printed twice for two copies, refused twice by a printer out of paper.
    po.env["DEVICE_URI"] = "zorvan-sim:" + scratch.file("outdir") + "?status=1-%3Apaperout&speed=0&width=384";
    EXPECT_EQ(testsupport::runProcess({link, "42", "user", "title", "2", "", job}, po).exitStatus, 0);
    auto summary = testsupport::readKeyValues(scratch.file("outdir/job-42/summary.txt"));
    for (auto [k, v] : Pairs{{"mode", "backend"}, {"queries", "2"}, {"paper_width", "384"}, {"printed_while_error", "2"}})
        EXPECT_EQ(summary[k], v) << k;
    // After other filters CUPS hands a backend the job on standard input (six arguments).
    po.stdinData = testsupport::readFile(job);
    EXPECT_EQ(testsupport::runProcess({link, "44", "user", "title", "1", ""}, po).exitStatus, 0);
    EXPECT_EQ(testsupport::readKeyValues(scratch.file("outdir/job-44/summary.txt"))["rasters"], "1");
    // A bad URI fails the job the CUPS way (1, not 2, which would ask for a password).
    po.env["DEVICE_URI"] = "zorvan-sim:" + scratch.file("outdir") + "?speed=fast";
    auto bad = testsupport::runProcess({link, "43", "user", "title", "1", "", job}, po);
    EXPECT_EQ(bad.exitStatus, 1);
    EXPECT_NE(bad.err.find("ERROR: zorvan-sim: bad value for --speed: 'fast'"), std::string::npos) << bad.err;
}

TEST(RasterTool, WritesRgbGrayAndOneBitPagesScaledAndPadded)
{
    // Left half black, right half white, a red pixel at (1, 1); and a small mid-gray one.
    const std::string png = scratch.file("a.png"), gray = scratch.file("b.png"), out = scratch.file("o.ras");
    testsupport::writeRgbPng(png, 16, 4, [](int x, int y) {
        return x == 1 && y == 1 ? testsupport::Rgb{255, 0, 0} : x < 8 ? testsupport::Rgb{0, 0, 0} : testsupport::Rgb{255, 255, 255};
    });
    testsupport::writeRgbPng(gray, 5, 2, [](int, int) { return testsupport::Rgb{0x80, 0x80, 0x80}; });
    struct {
        std::vector<std::string> args;
        std::vector<unsigned> header;  // width, height, bits, bytes per line, colour space, copies
        std::vector<std::pair<int, int>> bytes;  // offset in the first page, value
    } const cases[] = {
        {{"--copies", "3", png}, {16, 4, 8, 48, CUPS_CSPACE_RGB, 3}, {{51, 255}, {52, 0}, {45, 255}, {21, 0}}},
        // Ink: 255 is black; red weighs 0.299.
        {{"--gray", png}, {16, 4, 8, 16, CUPS_CSPACE_K, 1}, {{0, 255}, {15, 0}, {17, 179}}},
        {{"--bits", "1", "--compressed", png}, {16, 4, 1, 2, CUPS_CSPACE_K, 1}, {{0, 255}, {1, 0}}},
        {{"--width", "32", png, gray}, {32, 8, 8, 96, CUPS_CSPACE_RGB, 1, 32, 13}, {{45, 0}, {48, 255}, {198, 255}, {199, 0}}},
        {{"--pad", "24", gray}, {24, 2, 8, 72, CUPS_CSPACE_RGB, 1}, {{12, 128}, {15, 255}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0]);
        std::vector<std::string> argv = {testsupport::builtProgram("zorvan-raster")};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        argv.push_back(out);
        ASSERT_EQ(testsupport::runProcess(argv).exitStatus, 0);
        const int fd = ::open(out.c_str(), O_RDONLY);
        cups_raster_t* ras = cupsRasterOpen(fd, CUPS_RASTER_READ);
        cups_page_header2_t h;
        std::vector<unsigned> header;
        std::string first;
        while (cupsRasterReadHeader2(ras, &h)) {  // every page, one per picture
            header.insert(header.end(), {h.cupsWidth, h.cupsHeight});
            EXPECT_TRUE(h.ImagingBoundingBox[2] == h.PageSize[0] && h.ImagingBoundingBox[3] == h.PageSize[1]);
            if (header.size() > 2) continue;
            header.insert(header.end(), {h.cupsBitsPerColor, h.cupsBytesPerLine, h.cupsColorSpace, h.NumCopies});
            first.resize(std::size_t{h.cupsBytesPerLine} * h.cupsHeight);
            cupsRasterReadPixels(ras, reinterpret_cast<unsigned char*>(first.data()), first.size());
        }
        cupsRasterClose(ras);
        ::close(fd);
        EXPECT_EQ(header, c.header);
        for (const auto& [at, value] : c.bytes) EXPECT_EQ(static_cast<unsigned char>(first.at(at)), value) << at;
    }
    // Bad input: 1 for a file that is no PNG or is missing, 2 for a bad option.
    testsupport::writeFile(scratch.file("not.png"), "hello");
    for (auto [args, status] : std::vector<std::pair<std::vector<std::string>, int>>{
             {{scratch.file("not.png"), out}, 1}, {{scratch.file("missing.png"), out}, 1},
             {{"--bits", "4", png, out}, 2}, {{"--width", "0", png, out}, 2}, {{png, out, "--width"}, 2}}) {
        args.insert(args.begin(), testsupport::builtProgram("zorvan-raster"));
        auto r = testsupport::runProcess(args);
        EXPECT_EQ(r.exitStatus, status) << args.back();
        EXPECT_NE(r.err.find("ERROR"), std::string::npos) << r.err;
    }
}

}  // namespace

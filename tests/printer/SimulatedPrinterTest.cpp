// The simulated printer, driven through its binary by small shell "filters".
#include "SimHelpers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <sys/stat.h>
#include <unistd.h>

using simtest::decodeBytes;
using simtest::rasterCommand;
using simtest::runSim;
using testsupport::Gray;
using testsupport::TempDir;

namespace {

const std::string kInit = "\x1b\x40";
const std::string kQuery = "\x16\x04\x04";

// A script that writes `file` to the printer, sends one status query and copies the
// 5-byte reply, in hex, to standard error.
std::string sendAndAsk(const std::string& file) {
    return "cat '" + file + "'; printf '\\x16\\x04\\x04'; head -c 5 <&3 | od -An -tx1 >&2";
}

bool contains(const std::string& hay, const std::string& needle) { return hay.find(needle) != std::string::npos; }

// `text` holds the `parts` in this order.
void expectInOrder(const std::string& text, const std::vector<std::string>& parts)
{
    std::size_t pos = 0;
    for (const auto& part : parts) {
        auto at = text.find(part, pos);
        ASSERT_NE(at, std::string::npos) << part << " in order, in:\n" << text;
        pos = at + 1;
    }
}

// The summary holds at least these values.
void expectSummary(const std::map<std::string, std::string>& summary,
                   const std::vector<std::pair<std::string, std::string>>& expected)
{
    for (const auto& [key, value] : expected) {
        auto it = summary.find(key);
        EXPECT_TRUE(it != summary.end() && it->second == value)
            << key << " should be " << value << ", is " << (it == summary.end() ? "missing" : it->second);
    }
}

}  // namespace

TEST(SimulatedPrinter, DecodesCommandsAnswersQueryAndDrawsThePaper) {
    TempDir dir;
    // 2 bytes x 3 rows: FF 00 / F0 0F / AA 55, centred on the 576-dot head.
    std::string job = kInit + "\x1d\x83\x04" + "\x1b\x61\x01" + "\x1b\x4a\x10" +
                      rasterCommand(2, 3, std::string("\xff\x00\xf0\x0f\xaa\x55", 6));
    testsupport::writeFile(dir.file("job.bin"), job);
    auto r = runSim(dir, {"--speed", "0"}, sendAndAsk(dir.file("job.bin")));
    ASSERT_EQ(r.proc.exitStatus, 0) << r.proc.err;
    EXPECT_TRUE(contains(r.proc.err, "10 04 04 20 00")) << r.proc.err;
    for (const char* l : {"  initialise\n", "  density 4\n", "  justification 1 (centre)\n", "  feed 16 dots\n",
                          "raster #1: 2 x 3 bytes (16 x 3 dots), mode 0\n",
                          "status query #1 -> 10 04 04 20 00 (ready)"})
        EXPECT_TRUE(contains(r.listing, l)) << l << "\n" << r.listing;
    expectSummary(r.summary, {{"rasters", "1"}, {"raster_rows", "3"}, {"queries", "1"}, {"replies_sent", "1"},
                              {"copies_acknowledged", "1"}, {"feed_dots", "16"}, {"paper_rows", "19"},
                              {"unfinished_raster", "no"}, {"errors", "0"}});

    const Gray g = r.paper();
    ASSERT_EQ(g.width, 576);
    ASSERT_EQ(g.height, 19);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 576; x += 7) ASSERT_EQ(g.at(x, y), 255) << "feed row " << y;
    const int x0 = (576 - 16) / 2;
    const std::uint8_t rows[3][2] = {{0xff, 0x00}, {0xf0, 0x0f}, {0xaa, 0x55}};
    for (int y = 0; y < 3; ++y) {
        for (int d = 0; d < 16; ++d) {
            bool set = rows[y][d / 8] & (0x80 >> (d % 8));
            EXPECT_EQ(g.at(x0 + d, 16 + y), set ? 0 : 255) << "row " << y << " dot " << d;
        }
        EXPECT_EQ(g.at(x0 - 1, 16 + y), 255);
        EXPECT_EQ(g.at(x0 + 16, 16 + y), 255);
    }
}

TEST(SimulatedPrinter, StatusScriptAnswersEachQueryByNumber) {
    TempDir dir;
    // Query 8 gets no reply, so the script does not read one for it.
    std::string script;
    for (int q = 1; q <= 10; ++q) {
        script += "printf '\\x16\\x04\\x04'; ";
        if (q != 8) script += "head -c 5 <&3 | od -An -tx1 >&2; ";
    }
    auto r = runSim(dir,
                    {"--speed", "0", "--status",
                     "1-2:ready, 3:cover, 4:paperout, 5:hot, 6:skew, 7:0x14, 8:none, 9:wrongleader, 10-:cover|paperout"},
                    script);
    ASSERT_EQ(r.proc.exitStatus, 0) << r.proc.err;
    expectInOrder(r.proc.err, {"10 04 04 20 00", "10 04 04 20 00", "10 04 04 24 00", "10 04 04 00 00", "10 04 04 30 00",
                               "10 04 04 a0 00", "10 04 04 14 00", "10 04 05 20 00", "10 04 04 04 00"});
    EXPECT_EQ(r.summary["queries"], "10");
    EXPECT_EQ(r.summary["queries_unanswered"], "1");
    EXPECT_TRUE(contains(r.listing, "status query #8 -> no reply"));
    EXPECT_TRUE(contains(r.listing, "(cover open, paper out)"));
}

TEST(SimulatedPrinter, StraySplitAndDelayedReplies) {
    TempDir dir;
    auto t0 = std::chrono::steady_clock::now();
    auto r = runSim(dir, {"--speed", "0", "--status", "1:ready+stray=ff01+split=100,2:0x24+delay=300"},
                    "printf '\\x16\\x04\\x04'; head -c 7 <&3 | od -An -tx1 >&2; "
                    "printf '\\x16\\x04\\x04'; head -c 5 <&3 | od -An -tx1 >&2");
    double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    ASSERT_EQ(r.proc.exitStatus, 0) << r.proc.err;
    EXPECT_TRUE(contains(r.proc.err, "ff 01 10 04 04 20 00")) << r.proc.err;
    EXPECT_TRUE(contains(r.proc.err, "10 04 04 24 00")) << r.proc.err;
    EXPECT_GE(took, 0.35);  // 100 ms split + 300 ms delay, checked loosely
    EXPECT_TRUE(contains(r.listing, "split 100 ms after stray FF 01"));
    EXPECT_TRUE(contains(r.listing, "delay 300 ms"));
}

TEST(SimulatedPrinter, AcknowledgementWaitsUntilTheRowsHavePrinted) {
    TempDir dir;
    // 400 rows at 100 mm/s and 8 dots/mm take half a second.
    testsupport::writeFile(dir.file("job.bin"), rasterCommand(72, 400, std::string(72 * 400, '\x0f')));
    auto t0 = std::chrono::steady_clock::now();
    auto r = runSim(dir, {"--speed", "100"}, sendAndAsk(dir.file("job.bin")));
    double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    ASSERT_EQ(r.proc.exitStatus, 0) << r.proc.err;
    EXPECT_TRUE(contains(r.proc.err, "10 04 04 20 00"));
    EXPECT_GE(took, 0.45);
    EXPECT_EQ(r.summary["copies_acknowledged"], "1");
    // With speed 0 the same job is answered at once.
    auto t1 = std::chrono::steady_clock::now();
    auto fast = runSim(dir, {"--speed", "0"}, sendAndAsk(dir.file("job.bin")), "fast");
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - t1).count(), took);
    EXPECT_EQ(fast.summary["rows_printed"], "400");
}

TEST(SimulatedPrinter, NarrowHeadClipsWideRowsAndFlagsThem) {
    TempDir dir;
    testsupport::writeFile(dir.file("job.bin"), rasterCommand(72, 4, std::string(72 * 4, '\xff')));
    auto r = runSim(dir, {"--speed", "0", "--width", "384"}, sendAndAsk(dir.file("job.bin")));
    ASSERT_EQ(r.proc.exitStatus, 0);
    EXPECT_TRUE(contains(r.listing, "CLIPPED to the head's 384 dots"));
    expectSummary(r.summary, {{"clipped_rows", "4"}, {"paper_width", "384"}});
    const Gray g = r.paper();
    ASSERT_EQ(g.width, 384);
    ASSERT_EQ(g.height, 4);
    EXPECT_EQ(g.at(0, 0), 0);
    EXPECT_EQ(g.at(383, 3), 0);
}

TEST(SimulatedPrinter, ReportsRasterLeftUnfinishedAndPassesTheExitStatusOn) {
    TempDir dir;
    // Announces 10 rows of 4 bytes, sends 5 rows.
    testsupport::writeFile(dir.file("job.bin"), rasterCommand(4, 10, std::string(20, '\xff')));
    auto r = runSim(dir, {"--speed", "0"}, "cat '" + dir.file("job.bin") + "'; exit 7");
    EXPECT_EQ(r.proc.exitStatus, 7);
    expectSummary(r.summary, {{"exit_status", "7"}, {"unfinished_raster", "yes"},
                              {"unfinished_raster_missing_bytes", "20"}, {"rows_printed", "5"}});
    EXPECT_TRUE(contains(r.listing, "ERROR: input ended inside raster #1: 20 of 40 data bytes missing (5 of 10 rows complete)"));

    auto killed = runSim(dir, {"--speed", "0"}, "kill -9 $$", "killed");
    EXPECT_EQ(killed.proc.exitStatus, 137);
}

TEST(SimulatedPrinter, HeaderThatDisagreesWithItsDataShowsUp) {
    TempDir dir;
    // Too few rows announced: the rest of the data follows the raster as unknown bytes.
    auto shortHeader = decodeBytes(dir, rasterCommand(2, 1, std::string("\xff\xff\x81\x81", 4)) + kQuery);
    EXPECT_TRUE(contains(shortHeader.listing, "ERROR: 2 unknown bytes right after raster #1")) << shortHeader.listing;
    expectSummary(shortHeader.summary, {{"errors", "1"}, {"queries", "1"}});
    // Too many rows announced: the status query and the next copy vanish into the image.
    TempDir dir2;
    auto longHeader = decodeBytes(dir2, rasterCommand(2, 4, std::string("\x00\x00\x00\x00", 4)) + kQuery + kInit + "\x1b");
    expectSummary(longHeader.summary, {{"queries", "0"}, {"initialise", "0"}, {"swallowed_query_patterns", "1"},
                                       {"unfinished_raster", "no"}});
    EXPECT_TRUE(contains(longHeader.listing, "status query swallowed as image"));
}

TEST(SimulatedPrinter, PrintsNothingWhileReportingAnError) {
    TempDir dir;
    std::string job = rasterCommand(72, 8, std::string(72 * 8, '\xff')) + "\x1b\x4a\x20";
    testsupport::writeFile(dir.file("job.bin"), job);
    // The cover is open from query 1 on; query 2 reports ready again.
    std::string script = "printf '\\x16\\x04\\x04'; head -c 5 <&3 >/dev/null; cat '" + dir.file("job.bin") +
                         "'; printf '\\x16\\x04\\x04'; head -c 5 <&3 >/dev/null; cat '" + dir.file("job.bin") + "'";
    auto r = runSim(dir, {"--speed", "0", "--status", "1:cover,ready"}, script);
    ASSERT_EQ(r.proc.exitStatus, 0);
    EXPECT_TRUE(contains(r.listing, "NOT PRINTED: printer reports cover open"));
    EXPECT_TRUE(contains(r.listing, "NOT FED: printer reports cover open"));
    expectSummary(r.summary, {{"printed_while_error", "1"}, {"rasters_printed", "1"}, {"paper_rows", "40"}});
}

TEST(SimulatedPrinter, StopsReadingWhenToldAndTimesOut) {
    TempDir dir;
    testsupport::writeFile(dir.file("big.bin"), std::string(1 << 20, '\0'));
    auto r = runSim(dir, {"--speed", "0", "--stall-after", "100", "--timeout", "1"}, "cat '" + dir.file("big.bin") + "'");
    expectSummary(r.summary, {{"stalled", "yes"}, {"timed_out", "yes"}, {"bytes_in", "100"}});
    EXPECT_EQ(r.proc.exitStatus, 128 + 15);
}

TEST(SimulatedPrinter, DecodesTheWholeCommandSet) {
    TempDir dir;
    std::string s = std::string("\x1b\x6d\x1b\x69\x1d\x56\x41\x00\x1d\x56\x42\x00", 12) + "\x1b\x05\x03" +
                    "\x1b\x03\x01" + "\x1b\x06\x01" + "\x1b\x01\x02" + std::string("\x10\x04\x05\x10\x04\x04", 6) +
                    std::string(600, '\0') + kInit + kInit + "\x1b\x4a\xff" + "\x7f\x1b";
    auto r = decodeBytes(dir, s);
    ASSERT_EQ(r.proc.exitStatus, 0) << r.proc.err;
    for (const char* l : {"  partial cut\n", "  full cut\n", "full cut (GS V 65, feed 0)", "partial cut (GS V 66, feed 0)",
                          "standby time 3", "self test 1", "button print 1", "paper mode 2", "battery query DLE EOT 5",
                          "status request DLE EOT 4", "unknown bytes: 600", "feed 255 dots",
                          "ERROR: input ended inside a command"})
        EXPECT_TRUE(contains(r.listing, l)) << l << "\n" << r.listing;
    expectSummary(r.summary, {{"cuts", "4"}, {"initialise", "2"}, {"unknown_bytes", "601"},
                              {"unfinished_command", "yes"}, {"mode", "decode"}});
}

TEST(SimulatedPrinter, DoubleWidthAndHeightModes) {
    TempDir dir;
    const Gray g = decodeBytes(dir, rasterCommand(1, 1, "\x80", 3)).paper();
    ASSERT_EQ(g.height, 2);
    EXPECT_EQ(g.at(0, 0), 0);
    EXPECT_EQ(g.at(1, 1), 0);
    EXPECT_EQ(g.at(2, 0), 255);
}

TEST(SimulatedPrinter, RejectsABadStatusScript) {
    TempDir dir;
    auto r = runSim(dir, {"--status", "1-x:ready"}, "true");
    EXPECT_EQ(r.proc.exitStatus, 2);
    EXPECT_TRUE(contains(r.proc.err, "zorvan-printer: ERROR: status script: bad query range '1-x'"));
    auto r2 = runSim(dir, {"--status", "3:melted"}, "true", "o2");
    EXPECT_EQ(r2.proc.exitStatus, 2);
    EXPECT_TRUE(contains(r2.proc.err, "unknown state 'melted'"));
}

TEST(SimulatedPrinter, WorksAsACupsBackend) {
    TempDir dir;
    std::string link = dir.file("zorvan-sim");
    ASSERT_EQ(::symlink(testsupport::builtProgram("zorvan-printer").c_str(), link.c_str()), 0);
    auto dev = testsupport::runProcess({link});
    EXPECT_EQ(dev.exitStatus, 0);
    EXPECT_EQ(dev.out.rfind("direct zorvan-sim \"", 0), 0u) << dev.out;

    testsupport::writeFile(dir.file("job.bin"), kInit + rasterCommand(72, 2, std::string(144, '\xff')) + kQuery);
    testsupport::ProcessOptions po;
    po.env["DEVICE_URI"] = "zorvan-sim:" + dir.file("outdir") + "?status=1-%3Apaperout&speed=0&width=384";
    auto job = testsupport::runProcess({link, "42", "user", "title", "2", "", dir.file("job.bin")}, po);
    EXPECT_EQ(job.exitStatus, 0) << job.err;
    // The file twice, for two copies.
    expectSummary(testsupport::readKeyValues(dir.file("outdir/job-42/summary.txt")),
                  {{"mode", "backend"}, {"queries", "2"}, {"paper_width", "384"}, {"printed_while_error", "2"}});
    struct stat st {};
    EXPECT_EQ(::stat(dir.file("outdir/job-42/paper.png").c_str(), &st), 0);

    // A bad device URI fails the job the CUPS way (1, not 2, which would ask for a password).
    po.env["DEVICE_URI"] = "zorvan-sim:" + dir.file("outdir") + "?speed=fast";
    auto bad = testsupport::runProcess({link, "43", "user", "title", "1", "", dir.file("job.bin")}, po);
    EXPECT_EQ(bad.exitStatus, 1);
    EXPECT_NE(bad.err.find("ERROR: zorvan-sim: bad value for --speed: 'fast'"), std::string::npos) << bad.err;
}

TEST(SimulatedPrinter, StatusFileWithCommentsAndRawReplies) {
    TempDir dir;
    testsupport::writeFile(dir.file("status.txt"),
                           "# the printer warms up, then skews\n"
                           "1: raw=100404 ; 2 : ready|skew\n"
                           "3-4: hot   # too hot twice\n"
                           "cover\n");
    std::string script;
    for (int q = 1; q <= 5; ++q) script += "printf '\\x16\\x04\\x04'; head -c " + std::string(q == 1 ? "3" : "5") +
                                           " <&3 | od -An -tx1 >&2; ";
    auto r = runSim(dir, {"--speed", "0", "--status-file", dir.file("status.txt")}, script);
    ASSERT_EQ(r.proc.exitStatus, 0) << r.proc.err;
    expectInOrder(r.proc.err, {"10 04 04\n", "10 04 04 a0 00", "10 04 04 30 00", "10 04 04 30 00", "10 04 04 24 00"});
}

TEST(SimulatedPrinter, CommandsSplitAcrossWritesDecodeTheSame) {
    TempDir dir;
    auto r = runSim(dir, {"--speed", "0"},
                    "printf '\\x1d\\x76'; sleep 0.1; printf '\\x30\\x00\\x01\\x00\\x02'; sleep 0.1; "
                    "printf '\\x00\\xff'; sleep 0.1; printf '\\x81\\x16'; sleep 0.1; printf '\\x04\\x04'; "
                    "head -c 5 <&3 | od -An -tx1 >&2");
    ASSERT_EQ(r.proc.exitStatus, 0);
    EXPECT_TRUE(contains(r.listing, "raster #1: 1 x 2 bytes (8 x 2 dots), mode 0"));
    EXPECT_TRUE(contains(r.proc.err, "10 04 04 20 00"));
    expectSummary(r.summary, {{"rows_printed", "2"}, {"copies_acknowledged", "1"}, {"unknown_bytes", "0"}});
}

TEST(SimulatedPrinter, RandomBytesNeverUpsetTheDecoder) {
    TempDir dir;
    // A fixed pseudo-random stream, heavy in command bytes so that rasters, feeds and queries occur.
    std::string bytes;
    std::uint32_t x = 12345;
    const unsigned char favourites[] = {0x1B, 0x1D, 0x16, 0x10, 0x04, 0x40, 0x4A, 0x76, 0x30, 0x56, 0x61};
    for (int i = 0; i < 200000; ++i) {
        x = x * 1664525u + 1013904223u;
        unsigned v = x >> 24;
        bytes += static_cast<char>((v & 1) ? favourites[(v >> 1) % sizeof favourites] : (v >> 1) & 0x07);
    }
    auto r = decodeBytes(dir, bytes);
    ASSERT_EQ(r.proc.exitStatus, 0) << r.proc.err;
    EXPECT_EQ(r.summary["bytes_in"], "200000");
    EXPECT_NE(r.summary["commands"], "0");
    EXPECT_GT(r.paper().width, 0);
}

TEST(SimulatedPrinter, EndsWhenTheProgramEndsEvenIfItLeftAReaderBehind) {
    TempDir dir;
    // The script leaves a background reader of fd 3 holding the printer's input open,
    // and exits; the printer must not wait for it.
    auto t0 = std::chrono::steady_clock::now();
    auto r = runSim(dir, {"--speed", "0"}, "(head -c 5 <&3 | od -An -tx1) & exit 4");
    EXPECT_EQ(r.proc.exitStatus, 4);
    EXPECT_FALSE(r.proc.timedOut);
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), 10.0);
}

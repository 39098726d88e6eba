// The printer application end to end: zorvan-app on a free loopback port with
// its state, socket and spool in the test's folder, a printer on the listening
// simulated printer, jobs sent with the app's own `submit`. What the printer
// gets is compared with what the filter sends for the same pixels.
#include <cups/cups.h>
#include <cups/raster.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "support/PrinterJob.h"

namespace {

using namespace testsupport;

const std::string kApp = builtProgram("zorvan-app");
// PAPPL is not instrumented: its own leaks are not ours to report.
const std::map<std::string, std::string> kNoLeakCheck = {{"ASAN_OPTIONS", "detect_leaks=0"}};

std::unique_ptr<TempDir> dir;
pid_t server = 0, printer = 0;
int serverPort = 0;

// A sub-command of the running server; its standard output.
std::string app(std::vector<std::string> args)
{
    args.insert(args.begin(), kApp);
    auto env = kNoLeakCheck;
    env["ZORVAN_APP_STATE_DIR"] = dir->path();
    return runProcess(args, {.env = env, .timeoutSeconds = 30}).out;
}

// Starts `argv` in the background, output to `log`; its pid. At most for
// five minutes, should the test die before it stops it (in the foreground
// mode of timeout, which passes signals to the program alone).
pid_t background(std::vector<std::string> argv, const std::string& log,
                 const std::map<std::string, std::string>& env = {})
{
    const char* script = "log=$1; shift; { if command -v timeout >/dev/null; then exec timeout --foreground 300 \"$@\"; "
                         "else exec \"$@\"; fi; } >\"$log\" 2>&1 </dev/null & echo $!";
    argv.insert(argv.begin(), {"/bin/sh", "-c", script, "sh", log});
    return std::atoi(runProcess(argv, {.env = env}).out.c_str());
}

// Every job's picture: a gradient between two black rows, the first and the
// last but one, so that trimming blank rows keeps the same rows of every page.
// (PAPPL's rendering of a PNG leaves a light row under the picture's last.)
Gray picture(int height)
{
    Gray g{576, height, {}};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < 576; ++x) g.pixels.push_back(y == height - 1 ? 255 : y == 0 || y == height - 2 ? 0 : (3 * x + 5 * y) % 256);
    return g;
}

// The picture as a PWG raster page in sGray (255 is white), ending after `rows` rows.
void writePwg(const std::string& path, const Gray& g, int rows)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    cups_raster_t* raster = cupsRasterOpen(fd, CUPS_RASTER_WRITE_PWG);
    cups_page_header2_t h;
    cupsRasterInitPWGHeader(&h, pwgMediaForPWG("om_roll80-100mm_72.08x100mm"), "sgray_8", 203, 203, "one-sided",
                            nullptr);
    h.cupsHeight = static_cast<unsigned>(g.height);
    h.PageSize[1] = static_cast<unsigned>(g.height * 72 / 203);
    cupsRasterWriteHeader2(raster, &h);
    for (int y = 0; y < rows; ++y)
        cupsRasterWritePixels(raster, const_cast<unsigned char*>(&g.pixels[static_cast<std::size_t>(y) * 576]), 576);
    cupsRasterClose(raster);
    ::close(fd);
}

// What the printer made of the connections that printed something (the
// status queries of an idle printer come on connections of their own), oldest first.
std::vector<PrinterRun> printed()
{
    std::map<int, PrinterRun> byNumber;
    for (const auto& entry : std::filesystem::directory_iterator(dir->file("printer"))) {
        PrinterRun run;
        run.listing = readFile(entry.path().string() + "/listing.txt");
        run.paper = readPng(entry.path().string() + "/paper.png");
        run.summary = readKeyValues(entry.path().string() + "/summary.txt");
        // Finished connections only: the printer writes the summary last.
        if (run.listing.find("raster #") != std::string::npos && !run.summary.empty())
            byNumber[std::atoi(entry.path().filename().string().c_str() + 4)] = run;
    }
    std::vector<PrinterRun> runs;
    for (const auto& [number, run] : byNumber) runs.push_back(run);
    return runs;
}

// The server's log, with what PAPPL has rotated out of it.
std::string serverLog() { return readFile(dir->file("zorvan-app.log.O")) + readFile(dir->file("zorvan-app.log")); }

// Submits `file`; the job's id.
std::string submit(const std::string& file, const std::vector<std::string>& options = {},
                   const std::string& printer = "zp")
{
    std::vector<std::string> args = {"submit", "-d", printer};
    for (const std::string& o : options) args.insert(args.end(), {"-o", o});
    args.push_back(file);
    const std::string said = app(args);  // "zp-N"
    EXPECT_TRUE(said.starts_with(printer + "-")) << said << serverLog();
    return said.substr(printer.size() + 1, said.find_first_of("\n") - printer.size() - 1);
}


std::string jobState(const std::string& id, const std::string& printer = "zp")
{
    std::istringstream jobs(app({"jobs", "-d", printer}));
    for (std::string number, state, rest; jobs >> number >> state && std::getline(jobs, rest);)
        if (number == id) return state;
    return "";
}

// Prints `file` with finishings trim and a few of the driver's attributes,
// through IPP (the app's own submit does not send finishings); the job's id.
std::string printWithTrim(const std::string& file)
{
    writeFile(dir->file("trim.test"),
              "{ OPERATION Print-Job\n GROUP operation-attributes-tag\n ATTR charset attributes-charset utf-8\n"
              " ATTR naturalLanguage attributes-natural-language en\n ATTR uri printer-uri $uri\n"
              " ATTR name requesting-user-name $user\n ATTR mimeMediaType document-format image/pwg-raster\n"
              " GROUP job-attributes-tag\n ATTR enum finishings 11\n ATTR integer print-darkness 33\n"
              " ATTR integer zorvan-feed-before 5\n ATTR boolean zorvan-store-paper-type true\n"
              " FILE $filename\n STATUS successful-ok\n DISPLAY job-id\n}\n");
    const std::string out = runProcess({"/usr/bin/ipptool", "-T", "30", "-tv", "-f", file,
                                        "ipp://localhost:" + std::to_string(serverPort) + "/ipp/print/zp",
                                        dir->file("trim.test")}).out;
    const std::size_t at = out.find("job-id (integer) = ");
    EXPECT_NE(at, std::string::npos) << out;
    return at == std::string::npos ? "" : std::to_string(std::atoi(out.c_str() + at + 19));
}

class App : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (!std::filesystem::exists(kApp)) return;
        dir = std::make_unique<TempDir>();
        writeFile(dir->file("status"), "ready\n");
        printer = background({builtProgram("zorvan-printer"), "--listen", "127.0.0.1:0", "--speed", "200", "--out",
                              dir->file("printer"), "--status-file", dir->file("status")},
                             dir->file("printer.port"));
        auto env = kNoLeakCheck;
        env["ZORVAN_APP_STATE_DIR"] = dir->path();
        // Periods of 250 ms: a copy's acknowledgement may take 10 periods plus
        // 2 thousandths of one per row (4.85 s for 600 mm), the printer prints
        // at 200 mm/s (600 mm in 3 s), and a loaded machine has time to answer.
        env["ZORVAN_TEST_WAIT_MS"] = "250";
        // Port 0: the server takes a free one as it binds (sub-commands use the socket).
        server = background({kApp, "server", "-o", "server-port=0", "-o", "log-level=debug"},
                            dir->file("server.out"), env);
        eventually([] {
            return (serverPort = portAfter(dir->file("zorvan-app.log"), "Listening for connections on 'localhost:")) > 0;
        });
        int printerPort = 0;
        eventually([&] { return (printerPort = portAfter(dir->file("printer.port"), "")) > 0; });
        eventually([] { return std::filesystem::exists(dir->file("zorvan-app.sock")); });
        app({"add", "-d", "zp", "-m", "zorvan_80mm", "-v", "socket://127.0.0.1:" + std::to_string(printerPort)});
    }
    static void TearDownTestSuite()
    {
        // The server's own shutdown takes seconds; SIGTERM stops it at once.
        if (server > 0) ::kill(server, SIGTERM);
        if (printer > 0) ::kill(printer, SIGTERM);
        // They write their last files into the folder before they go.
        // A server that does not stop (a job in hand makes PAPPL wait a minute) is killed.
        if (!eventually([] { return !running(server) && !running(printer); }))
            for (pid_t p : {server, printer}) ::kill(p, SIGKILL);
        dir.reset();
    }
    void SetUp() override
    {
        if (!std::filesystem::exists(kApp)) GTEST_SKIP() << "zorvan-app was not built (PAPPL's libpappl-dev missing)";
    }
};

}  // namespace

// A colour PNG (decoded by the app, placed by PAPPL) and a PWG raster page in
// sGray (passed as sent) print as the filter prints the same pixels: the same
// per-copy sequence, and the same dots from the driver's own gray conversion,
// in the default monochrome mode as in colour.
TEST_F(App, PicturesPrintAsTheFilterPrintsThem)
{
    const Gray g = picture(300);
    // The gray picture's black rows, with colours of every hue between them.
    const auto colour = [&](int x, int y) -> std::uint32_t {
        if (g.at(x, y) == 0 || g.at(x, y) == 255) return g.at(x, y) * 0x010101u;
        return static_cast<std::uint32_t>((3 * x + 5 * y) % 256) << 16 | ((7 * x) % 256) << 8 | (11 * y + x) % 256;
    };
    ASSERT_TRUE(writeRgbPng(dir->file("picture.png"), g.width, g.height, [&](int x, int y) {
        const std::uint32_t c = colour(x, y);
        return Rgb{static_cast<std::uint8_t>(c >> 16), static_cast<std::uint8_t>(c >> 8), static_cast<std::uint8_t>(c)};
    }));
    writePwg(dir->file("picture.pwg"), g, g.height);
    // PAPPL centres the picture on the 200 mm page: paper saving, set as the
    // printer's default, trims both ends; the job asks for its darkness.
    app({"modify", "-d", "zp", "-o", "zorvan-paper-saving-default=top-and-bottom", "-o", "zorvan-blank-bottom-default=0"});
    const auto filter = [](const RasterPage& page, const std::string& more = "") {
        const PrinterRun r = runJob({.pages = {page}, .options = "PaperSaveMode=3 EndBlank=0 Density=6" + more});
        EXPECT_EQ(r.proc.exitStatus, 0) << r.log();
        return r;
    };
    const RasterPage grayPage = rasterPage(576, 300, 8, 3, [&](unsigned x, unsigned y) {
        return 255u - g.at(static_cast<int>(x), static_cast<int>(y));
    });
    const PrinterRun gray = filter(grayPage);
    // IPP's trim is a full cut after each copy; the feed before printing and
    // the paper type told to the printer act as the filter's options do.
    const PrinterRun cut = filter(grayPage, " PaperCutMode=2 Openingfeed=5 MediaTypeSet=1");
    const PrinterRun rgb = filter(rasterPage(576, 300, 8, 1, [&](unsigned x, unsigned y) {
        return colour(static_cast<int>(x), static_cast<int>(y));
    }));
    struct Row {
        const char* file;
        std::vector<std::string> options;
        const PrinterRun& filter;
    };
    for (const Row& row : {Row{"picture.png", {}, rgb}, Row{"picture.png", {"print-color-mode=color"}, rgb},
                           Row{"picture.pwg", {}, gray}, Row{"picture.pwg", {"finishings=trim"}, cut}}) {
        SCOPED_TRACE(row.file + (row.options.empty() ? std::string() : " " + row.options[0]));
        std::vector<std::string> options = row.options;
        options.push_back("print-darkness=33");
        options.push_back("zorvan-inversion=false");
        const std::size_t before = printed().size();
        const bool trim = !row.options.empty() && row.options[0] == "finishings=trim";
        const std::string id = trim ? printWithTrim(dir->file(row.file)) : submit(dir->file(row.file), options);
        EXPECT_TRUE(eventually([&] { return jobState(id) == "completed"; })) << jobState(id);
        ASSERT_TRUE(eventually([&] { return printed().size() == before + 1; }));
        EXPECT_EQ(printed().back().commands(), row.filter.commands());
        EXPECT_TRUE(printed().back().paperBytes() == row.filter.paperBytes()) << "the dots differ from the filter's";
        EXPECT_NE(row.filter.commands().find("1D 83 06"), std::string::npos);  // print-darkness 50 is density 6
    }
    EXPECT_NE(serverLog().find("media-col.source='main-roll'"), std::string::npos);  // the roll is the one source
}

// Two printers, one server. Out of paper, printer A's reasons say so and its
// job waits, printing nothing, while B prints the jobs sent to it; a cancel on
// A ends only A's job; paper loaded, A's next job prints. A stop of the server
// ends a job that waits for paper instead of waiting for the paper.
TEST_F(App, TwoPrintersPrintApartAndAStopEndsAWaitingJob)
{
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const auto timeline = [&](const char* what) {
        std::printf("timeline: %6.2f s  %s\n", std::chrono::duration<double>(Clock::now() - start).count(), what);
    };
    writeFile(dir->file("status-b"), "ready\n");
    const pid_t printerB = background({builtProgram("zorvan-printer"), "--listen", "127.0.0.1:0", "--speed", "500",
                                       "--out", dir->file("printer-b"), "--status-file", dir->file("status-b")},
                                      dir->file("printer-b.port"));
    ASSERT_TRUE(eventually([] { return readFile(dir->file("printer-b.port")).find('\n') != std::string::npos; }));
    const std::string portB = readFile(dir->file("printer-b.port"));
    app({"add", "-d", "zb", "-m", "zorvan_80mm", "-v", "socket://127.0.0.1:" + portB.substr(0, portB.find('\n'))});
    // A PNG: PAPPL takes the whole document before printing, so `submit`
    // returns (a raster stream is printed while it arrives).
    ASSERT_TRUE(writeGrayPng(dir->file("receipt.png"), picture(100), 203));
    const auto pagesOfB = [] { return std::distance(std::filesystem::directory_iterator(dir->file("printer-b")),
                                                    std::filesystem::directory_iterator()); };
    const auto waitsForPaper = [](const std::string& id) {
        return app({"status", "-d", "zp"}).find("media-empty") != std::string::npos && jobState(id) == "processing";
    };

    writeFile(dir->file("status"), "paperout\n");
    const std::size_t before = printed().size();
    const std::string a1 = submit(dir->file("receipt.png"));
    EXPECT_TRUE(eventually([&] { return waitsForPaper(a1); }));
    timeline("job 1 on A waits for paper");
    const std::string b1 = submit(dir->file("receipt.png"), {}, "zb");
    EXPECT_TRUE(eventually([&] { return jobState(b1, "zb") == "completed"; })) << jobState(b1, "zb");
    timeline("job on B completed");
    EXPECT_TRUE(waitsForPaper(a1));
    app({"cancel", "-d", "zp", "-j", a1});
    EXPECT_TRUE(eventually([&] { return jobState(a1) == "canceled"; })) << jobState(a1);
    const std::string b2 = submit(dir->file("receipt.png"), {}, "zb");
    EXPECT_TRUE(eventually([&] { return jobState(b2, "zb") == "completed"; })) << jobState(b2, "zb");
    EXPECT_TRUE(eventually([&] { return pagesOfB() >= 2; }));
    timeline("A's job cancelled; the next job on B completed");

    const std::string a2 = submit(dir->file("receipt.png"));
    EXPECT_TRUE(eventually([&] { return waitsForPaper(a2); }));
    writeFile(dir->file("status"), "ready\n");
    EXPECT_TRUE(eventually([&] { return jobState(a2) == "completed"; })) << jobState(a2);
    EXPECT_TRUE(eventually([&] { return printed().size() == before + 1; }));  // the cancelled job printed nothing
    EXPECT_TRUE(eventually([] { return app({"status", "-d", "zp"}).find("media-empty") == std::string::npos; }));
    EXPECT_EQ(printed().back().summary["printed_while_error"], "0");  // nothing while the paper was out
    timeline("paper loaded: job 2 on A completed");
    // An idle printer is asked too: its cover opened shows without a job.
    writeFile(dir->file("status"), "cover\n");
    EXPECT_TRUE(eventually([&] { return app({"status", "-d", "zp"}).find("cover-open") != std::string::npos; }));
    writeFile(dir->file("status"), "ready\n");
    EXPECT_TRUE(eventually([&] { return app({"status", "-d", "zp"}).find("cover-open") == std::string::npos; }));

    writeFile(dir->file("status"), "paperout\n");
    const std::string a3 = submit(dir->file("receipt.png"));
    EXPECT_TRUE(eventually([&] { return waitsForPaper(a3); }));
    ::kill(server, SIGTERM);
    timeline("SIGTERM while job 3 on A waits for paper");
    // Left to PAPPL alone, the server would wait a minute for the job.
    EXPECT_TRUE(eventually([] { return !running(server); }, 30));
    timeline("server stopped");
    ::kill(printerB, SIGTERM);
    EXPECT_TRUE(eventually([&] { return !running(printerB); }));
}

// A job that ends early ends alone: a truncated document fails its job with a
// message, a job cancelled while its page prints leaves no command short, and
// the next job prints.
TEST_F(App, AJobThatEndsEarlyEndsAlone)
{
    struct Case {
        const char* name;  // PWG raster streams truncated; a long PNG on a 600 mm page; a PNG too wide to decode
        int height, rowsSent;
        bool cancel;
        const char* state;
        const char* logged;
    };
    for (const Case& c : {Case{"truncated", 400, 150, false, "aborted", "The document ended inside page 1"},
                          Case{"cancelled", 4700, 4700, true, "canceled", "Job cancelled."},
                          Case{"too long", 500000, 10, false, "aborted", "(576 bytes per line) is too large or empty."},
                          Case{"too wide", 2, 0, false, "aborted", "The picture of 70000 x 2 pixels is too large to print."}}) {
        SCOPED_TRACE(c.name);
        const std::size_t before = printed().size();
        std::string id;
        if (c.cancel) {
            ASSERT_TRUE(writeGrayPng(dir->file("long.png"), picture(c.height), 203));
            id = submit(dir->file("long.png"), {"media=om_roll80-600mm_72.08x600mm"});
            // The page is out and printing (590 mm at 200 mm/s) when the cancel comes.
            EXPECT_TRUE(eventually([&] { return serverLog().find("[Job " + id + "] 710 i = 0") != std::string::npos; }));
            app({"cancel", "-d", "zp", "-j", id});
        } else if (c.rowsSent == 0) {
            ASSERT_TRUE(writeGrayPng(dir->file("wide.png"), Gray{70000, c.height, std::vector<std::uint8_t>(140000, 0)}, 203));
            id = submit(dir->file("wide.png"));
        } else {
            Gray page = picture(std::min(c.height, 400));  // the rows sent; the header says the height
            page.height = c.height;
            writePwg(dir->file("truncated.pwg"), page, c.rowsSent);
            id = submit(dir->file("truncated.pwg"));
        }
        EXPECT_TRUE(eventually([&] { return jobState(id) == c.state; })) << jobState(id);
        EXPECT_NE(serverLog().find(c.logged), std::string::npos);
        writePwg(dir->file("next.pwg"), picture(100), 100);
        const std::string next = submit(dir->file("next.pwg"));
        EXPECT_TRUE(eventually([&] { return jobState(next) == "completed"; })) << jobState(next);
        ASSERT_TRUE(eventually([&] { return printed().size() == before + (c.cancel ? 2 : 1); }));
        for (std::size_t i = before; i < printed().size(); ++i) {
            EXPECT_EQ(printed()[i].summary["unfinished_raster"], "no") << printed()[i].listing;
            EXPECT_EQ(printed()[i].summary["unfinished_command"], "no") << printed()[i].listing;
        }
    }
}


// The printer's settings page shows each default as it is: a checkbox is
// ticked for a setting that is on and only then.
TEST_F(App, TheSettingsPageShowsTheDefaults)
{
    app({"modify", "-d", "zp", "-o", "zorvan-inversion-default=true"});
    http_t* http = httpConnect2("localhost", serverPort, nullptr, AF_UNSPEC, HTTP_ENCRYPTION_IF_REQUESTED, 1, 30000, nullptr);
    ASSERT_NE(http, nullptr);
    std::string page;
    httpClearFields(http);
    httpSetField(http, HTTP_FIELD_HOST, ("localhost:" + std::to_string(serverPort)).c_str());
    if (httpGet(http, "/zp/paper") == 0) {
        http_status_t status;
        while ((status = httpUpdate(http)) == HTTP_STATUS_CONTINUE) {
        }
        EXPECT_EQ(status, HTTP_STATUS_OK);
        char buffer[8192];
        for (ssize_t n; (n = httpRead2(http, buffer, sizeof buffer)) > 0;) page.append(buffer, static_cast<std::size_t>(n));
    }
    httpClose(http);
    app({"modify", "-d", "zp", "-o", "zorvan-inversion-default=false"});
    EXPECT_NE(page.find(R"(id="zorvan-inversion" checked>)"), std::string::npos) << page;
    EXPECT_NE(page.find(R"(id="zorvan-store-paper-type">)"), std::string::npos) << page;
}

// A sub-command whose state folder has no server says so and starts none.
TEST(AppCommand, ASubCommandWithoutItsServerSaysSo)
{
    if (!std::filesystem::exists(kApp)) GTEST_SKIP() << "zorvan-app was not built (PAPPL's libpappl-dev missing)";
    TempDir empty;
    auto env = kNoLeakCheck;
    env["ZORVAN_APP_STATE_DIR"] = empty.path();
    for (const bool staleSocket : {false, true}) {  // a socket file left by a server that has stopped
        if (staleSocket) {
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un address{.sun_family = AF_UNIX};
            std::strcpy(address.sun_path, empty.file("zorvan-app.sock").c_str());
            ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
            ::close(fd);
        }
        const ProcessResult r = runProcess({kApp, "jobs"}, {.env = env, .timeoutSeconds = 30});
        EXPECT_EQ(r.exitStatus, 1);
        EXPECT_NE(r.err.find("ERROR: No zorvan-app server runs with its state in " + empty.path()), std::string::npos) << r.err;
        EXPECT_EQ(std::filesystem::exists(empty.file("zorvan-app.sock")), staleSocket);
    }
}

// The printing core through memory devices: a colour page's copies go out as
// the built filter sends them to the simulated printer, and two jobs started
// at once on two threads each come out whole.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <chrono>
#include <thread>

#include "core/printingCore.h"
#include "filter/settingsThermalSensitivityPara.h"
#include "support/PrinterJob.h"

using namespace testsupport;

namespace {

const std::string statusQuery = "\x16\x04\x04";

// A printer in memory: keeps every byte and answers each status query with
// the next scripted reply, "ready" once the script is used up.
class MemoryDevice final : public PrinterDevice {
public:
    std::string bytes;
    std::deque<std::string> replies;

    void write(std::span<const unsigned char> data) override
    {
        const std::string text(data.begin(), data.end());
        unanswered_ += text == statusQuery ? 1 : 0;
        bytes += text;
    }
    void flush() override {}
    long read(std::span<unsigned char> buffer, int timeoutMs) override
    {
        if (unanswered_ == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
            return 0;
        }
        --unanswered_;
        std::string reply = replies.empty() ? std::string("\x10\x04\x04\x20\x00", 5) : replies.front();
        if (!replies.empty()) {
            replies.pop_front();
        }
        std::memcpy(buffer.data(), reply.data(), std::min(buffer.size(), reply.size()));
        return static_cast<long>(std::min(buffer.size(), reply.size()));
    }
    void log(LogLevel, std::string_view) override {}
    void condition(const PrinterConditions&) override {}

private:
    int unanswered_ = 0;
};

settingsThermalSensitivityPara settingsFor(const std::string& options)
{
    ::setenv("PPD", ZORVAN_PPD_BUILD_DIR "/zorvan.ppd", 1);
    ::setenv("ZORVAN_TEST_WAIT_MS", "2", 1);
    return readPpdSettings(options.c_str());
}

// With `context`, the job runs in it (as the filter's one job does), else in one of its own.
void print(MemoryDevice& device, const RasterPage& page, const settingsThermalSensitivityPara& settings,
           JobContext* context = nullptr)
{
    const cups_page_header2_t& h = page.header;
    const PageFormat format{.width = static_cast<int>(h.cupsWidth), .height = static_cast<int>(h.cupsHeight),
                            .bitsPerColor = 8, .bytesPerLine = static_cast<int>(h.cupsBytesPerLine),
                            .copies = static_cast<int>(h.NumCopies),
                            .actualWidth = static_cast<int>(pageRowSizes(h.cupsWidth, 8, h.cupsBytesPerLine).actualWidth)};
    std::vector<unsigned char> buffer(static_cast<std::size_t>(format.actualWidth) * format.height);
    std::size_t next = 0;
    const auto session = context != nullptr ? std::make_unique<PrintSession>(*context, device)
                                            : std::make_unique<PrintSession>(device);
    session->useSettings(settings);
    const PageResult result = session->printPage(
        format,
        [&](unsigned char* row, unsigned bytes) {
            std::memcpy(row, page.rows.data() + next, bytes);
            next += bytes;
            return true;
        },
        buffer.data());
    EXPECT_EQ(result, PageResult::Done);
}

// The commands of a byte stream named as in PrinterRun::commands(), status
// queries left out; each raster's data goes to `data`.
std::string commandsIn(const std::string& bytes, std::string* data = nullptr)
{
    std::string text;
    for (std::size_t at = 0; at < bytes.size();) {
        const bool raster = bytes.compare(at, 3, "\x1D\x76\x30") == 0;
        const std::size_t length = raster ? 8 : bytes.compare(at, 2, "\x1B\x40") == 0 ? 2 : 3;
        if (bytes.compare(at, 3, statusQuery) != 0) {
            text += text.empty() ? "" : ", ";
            for (std::size_t i = 0; i < length; ++i) {
                char hex[4];
                std::snprintf(hex, sizeof hex, i == 0 ? "%02X" : " %02X", static_cast<unsigned char>(bytes[at + i]));
                text += hex;
            }
        }
        const auto byte = [&](std::size_t i) { return static_cast<std::size_t>(static_cast<unsigned char>(bytes[at + i])); };
        const std::size_t image = raster ? (byte(4) + 256 * byte(5)) * (byte(6) + 256 * byte(7)) : 0;
        if (data != nullptr) {
            *data += bytes.substr(at + length, image);
        }
        at += length + image;
    }
    return text;
}

RasterPage samplePage(unsigned width, unsigned height, int copies)
{
    return rasterPage(width, height, 8, 1, [](unsigned x, unsigned y) { return (x * y) % 7 != 0 ? 0xFFFFFFu : 0x204060u * (x % 3); }, copies);
}

TEST(Core, ColourCopiesGoOutAsTheFilterSendsThem)
{
    const std::string options = "Imagealgorithm=7 Density=5 AfterFeed=1 PaperSaveMode=0";
    const RasterPage page = samplePage(576, 48, 2);
    const PrinterRun run = runJob({.pages = {page}, .options = options});
    ASSERT_EQ(run.proc.exitStatus, 0) << run.log();

    MemoryDevice device;
    device.replies = {std::string("\x10\x04\x04\x00\x00", 5)};  // out of paper before it is ready
    JobContext context;
    context.waits.requestCancel();  // the job before this one was cancelled: this one prints all the same
    print(device, page, settingsFor(options), &context);
    std::string data;
    EXPECT_EQ(commandsIn(device.bytes, &data), run.commands());
    EXPECT_EQ(data, run.paperBytes());
}

TEST(Core, TwoJobsAtOnceEachComeOutWhole)
{
    const RasterPage pageA = samplePage(576, 40, 1), pageB = samplePage(384, 64, 2);
    const settingsThermalSensitivityPara a = settingsFor("Imagealgorithm=0 Density=2"),
                                         b = settingsFor("Imagealgorithm=2 Density=7 AfterFeed=2");
    MemoryDevice aloneA, aloneB, deviceA, deviceB;
    print(aloneA, pageA, a);
    print(aloneB, pageB, b);
    std::thread first([&] { print(deviceA, pageA, a); });
    std::thread second([&] { print(deviceB, pageB, b); });
    first.join();
    second.join();
    std::string expected, got;
    EXPECT_EQ(commandsIn(deviceA.bytes, &got), commandsIn(aloneA.bytes, &expected));
    EXPECT_EQ(got, expected);
    expected.clear();
    got.clear();
    EXPECT_EQ(commandsIn(deviceB.bytes, &got), commandsIn(aloneB.bytes, &expected));
    EXPECT_EQ(got, expected);
}

}  // namespace

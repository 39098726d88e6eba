// The shipped PPD: it passes cupstestppd and its defaults are what a receipt
// user expects.
#include <gtest/gtest.h>

#include <cups/ppd.h>

#include <cstdlib>
#include <set>
#include <sstream>
#include <string>
#include <unistd.h>

#include "filter/Functions.h"
#include "filter/settingsThermalSensitivityPara.h"
#include "support/Process.h"

namespace {

std::string findOnPath(const std::string& name)
{
    const char* pathEnv = std::getenv("PATH");
    std::stringstream dirs(pathEnv != nullptr ? pathEnv : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        std::string candidate = dir + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return {};
}

const std::string kShippedPpd = testsupport::sourcePath("ppd/zorvan.ppd");

TEST(ShippedPpd, PassesCupstestppd)
{
    const std::string tool = findOnPath("cupstestppd");
    if (tool.empty()) {
        GTEST_SKIP() << "cupstestppd is not installed";
    }
    auto r = testsupport::runProcess({tool, "-I", "filters", kShippedPpd});
    EXPECT_EQ(r.exitStatus, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("PASS"), std::string::npos) << r.out;
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

struct PpdDeleter {
    void operator()(ppd_file_t* p) const { ppdClose(p); }
};

TEST(ShippedPpd, EveryChoiceKeywordIsItsNumberAndWithinRange)
{
    std::unique_ptr<ppd_file_t, PpdDeleter> ppd(ppdOpenFile(kShippedPpd.c_str()));
    ASSERT_NE(ppd, nullptr);
    const char* const keywords[] = {"MediaType", "Density", "Openingfeed", "Brightness", "Contrast",
                                    "Imagealgorithm", "Threshold", "HorizontalOffset", "VerticalOffset",
                                    "Blackandwhiteinversion", "PaperCutMode", "AfterFeed", "BlackMarkOffset",
                                    "setBlackMarkOffset", "MediaTypeSet", "PaperSaveMode", "PageHeaderBlank",
                                    "EndBlank"};
    for (const char* keyword : keywords) {
        ppd_option_t* option = ppdFindOption(ppd.get(), keyword);
        ASSERT_NE(option, nullptr) << keyword;
        std::set<int> values;
        for (int i = 0; i < option->num_choices; ++i) {
            const ppd_choice_t& choice = option->choices[i];
            const int value = std::atoi(choice.choice);
            EXPECT_EQ(std::to_string(value), choice.choice) << keyword;
            EXPECT_STRNE(choice.text, choice.choice) << keyword << ": choice needs a readable text";
            values.insert(value);
            const std::string name = keyword;
            if (name == "Brightness" || name == "Contrast" || name == "HorizontalOffset" ||
                name == "VerticalOffset") {
                EXPECT_TRUE(value >= -100 && value <= 100) << keyword << " " << value;
            } else {
                EXPECT_GE(value, 0) << keyword;
            }
            if (name == "Threshold") {
                EXPECT_TRUE(value == 0 || (value >= 14 && value <= 255)) << value;
            }
        }
        if (std::string(keyword) == "Imagealgorithm") {
            EXPECT_EQ(values, (std::set<int>{0, 2, 3, 7, 8, 9, 10, 11}));
        }
    }

    ppd_option_t* colour = ppdFindOption(ppd.get(), "ColorModel");
    ASSERT_NE(colour, nullptr);
    EXPECT_STREQ(colour->defchoice, "RGB");
    EXPECT_EQ(colour->num_choices, 2);
    EXPECT_EQ(ppd->manual_copies, 0);
}

TEST(ShippedPpd, PageSizesMatchThePrintHead)
{
    std::unique_ptr<ppd_file_t, PpdDeleter> ppd(ppdOpenFile(kShippedPpd.c_str()));
    ASSERT_NE(ppd, nullptr);
    std::set<int> widths;
    for (int i = 0; i < ppd->num_sizes; ++i) {
        const ppd_size_t& size = ppd->sizes[i];
        // The raster width CUPS derives from the imageable area at 203 dpi.
        widths.insert(static_cast<int>((size.right - size.left) * 203.0 / 72.0 + 0.5));
        EXPECT_EQ(static_cast<int>(size.width * 203.0 / 72.0), static_cast<int>((size.right - size.left) * 203.0 / 72.0));
    }
    EXPECT_EQ(widths, (std::set<int>{384, 576}));
}

#pragma GCC diagnostic pop

TEST(ShippedPpd, DefaultsAreAPlainReceiptSetup)
{
    const char* old = std::getenv("PPD");
    const std::string saved = old != nullptr ? old : "";
    ::setenv("PPD", kShippedPpd.c_str(), 1);
    testing::internal::CaptureStderr();
    initializeSettings("");
    const std::string log = testing::internal::GetCapturedStderr();

    EXPECT_EQ(GetPaperMode(), 1);                // continuous receipt paper
    EXPECT_EQ(GetDensity(), 4);                  // middle density
    EXPECT_EQ(GetOpeningFeed(), 0);
    EXPECT_EQ(GetBrightness(), 0);
    EXPECT_EQ(GetContrast(), 0);
    EXPECT_EQ(GetBinarizationAlgorithm(), 0);    // Otsu
    EXPECT_EQ(GetThreshholdByManual(), 0);       // automatic
    EXPECT_EQ(HorizontalOffset(), 0);
    EXPECT_EQ(VerticalOffset(), 0);
    EXPECT_EQ(GetBlackAndWhiteInversion(), 0);   // normal print
    EXPECT_EQ(GetPaperCutMode(), 0);
    EXPECT_EQ(GetAfterPrintFeed(), 0);
    EXPECT_EQ(GetBlackMarkOffset(), 0);
    EXPECT_EQ(GetsetBlackMarkOffset(), 0);
    EXPECT_EQ(GetMediaTypeSet(), 0);
    EXPECT_EQ(GetPaperSaveMode(), 2);            // trim blank paper at the bottom
    EXPECT_EQ(GetpageHeaderBlank(), 0);
    EXPECT_EQ(GetEndBlank(), 2);                 // keep a 2 mm margin
    EXPECT_EQ(log.find("=-1\n"), std::string::npos) << log;

    // Negative choices are marked from the job's options like any other.
    testing::internal::CaptureStderr();
    initializeSettings("Brightness=-100 HorizontalOffset=-8 Imagealgorithm=10 Threshold=128");
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(GetBrightness(), -100);
    EXPECT_EQ(HorizontalOffset(), -8);
    EXPECT_EQ(GetBinarizationAlgorithm(), 10);
    EXPECT_EQ(GetThreshholdByManual(), 128);

    if (old != nullptr) {
        ::setenv("PPD", saved.c_str(), 1);
    } else {
        ::unsetenv("PPD");
    }
}

}  // namespace

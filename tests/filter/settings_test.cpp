// Print settings read from the PPD and the job's options, in-process.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "filter/Functions.h"
#include "filter/settingsThermalSensitivityPara.h"
#include "support/Ppd.h"
#include "support/Process.h"

namespace {

using testsupport::TempDir;

// PPD keyword and the name its value is logged under, in logging order.
const std::pair<const char*, const char*> kOptions[18] = {
    {"MediaType", "MediaType"}, {"Density", "Density"}, {"Openingfeed", "Openingfeed"},
    {"Brightness", "Brightness"}, {"Contrast", "Contrast"}, {"Imagealgorithm", "Imagealgorithm"},
    {"Threshold", "Threshold"}, {"HorizontalOffset", "HorizontalOffset"}, {"VerticalOffset", "VerticalOffset"},
    {"Blackandwhiteinversion", "BlackAndWhiteInversion"}, {"PaperCutMode", "PaperCutMode"},
    {"AfterFeed", "AfterPrintFeed"}, {"BlackMarkOffset", "BlackMarkOffset"},
    {"setBlackMarkOffset", "setBlackMarkOffset"}, {"MediaTypeSet", "MediaTypeSet"},
    {"PaperSaveMode", "PaperSaveMode"}, {"PageHeaderBlank", "PageHeaderBlank"}, {"EndBlank", "EndBlank"}};

// The 18 DEBUG lines for the given values, in logging order.
std::string expectedLog(const std::vector<int>& values)
{
    std::string log;
    for (int i = 0; i < 18; ++i) {
        log += "DEBUG: PPD " + std::string(kOptions[i].second) + "=" + std::to_string(values[i]) + "\n";
    }
    return log;
}

// A PPD with every option, each defaulting to its value in `values`; Density
// and EndBlank also offer 5 and 1.
std::string allOptionsPpd(const std::vector<int>& values)
{
    std::map<std::string, std::vector<std::string>> options;
    for (int i = 0; i < 18; ++i) {
        options[kOptions[i].first] = {std::to_string(values[i]), std::to_string(values[i])};
    }
    options["Density"].push_back("5");
    options["EndBlank"].push_back("1");
    return testsupport::ppdText(options);
}

// Sets or clears $PPD for one test and puts the old value back afterwards.
class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (const char* old = std::getenv("PPD")) {
            saved_ = old;
        }
    }
    void TearDown() override
    {
        if (saved_) {
            ::setenv("PPD", saved_->c_str(), 1);
        } else {
            ::unsetenv("PPD");
        }
    }

    // Runs initializeSettings and returns what it wrote to stderr.
    std::string load(const std::optional<std::string>& ppdPath, const char* options = "")
    {
        if (ppdPath) {
            ::setenv("PPD", ppdPath->c_str(), 1);
        } else {
            ::unsetenv("PPD");
        }
        testing::internal::CaptureStderr();
        initializeSettings(options);
        return testing::internal::GetCapturedStderr();
    }

    std::string loadText(const std::string& ppd, const char* options = "")
    {
        testsupport::writeFile(dir_.file("p.ppd"), ppd);
        return load(dir_.file("p.ppd"), options);
    }

    TempDir dir_;

private:
    std::optional<std::string> saved_;
};

TEST_F(SettingsTest, LogsEveryDefaultInOrderAndJobOptionsOverrideThem)
{
    // Distinct values per option catch a field filled from the wrong keyword.
    const std::vector<int> values = {2, 3, 1, -50, 50, 7, 128, 1, -1, 1, 2, 3, 4, 1, 1, 3, 2, 5};
    const std::string ppd = allOptionsPpd(values);
    EXPECT_EQ(loadText(ppd), expectedLog(values));
    EXPECT_EQ(settingsThermalSensitivity.MediaTypeSet, 1);
    EXPECT_EQ(settingsThermalSensitivity.setBlackMarkOffset, 1);
    EXPECT_EQ(settingsThermalSensitivity.BlackMarkOffset, 4);

    const std::string log = loadText(ppd, "Density=5 EndBlank=1 copies=2 job-uuid=urn:uuid:x");
    EXPECT_NE(log.find("DEBUG: PPD Density=5\n"), std::string::npos) << log;
    EXPECT_NE(log.find("DEBUG: PPD EndBlank=1\n"), std::string::npos) << log;
    EXPECT_EQ(GetDensity(), 5);
    EXPECT_EQ(GetEndBlank(), 1);
    EXPECT_EQ(GetBinarizationAlgorithm(), 7);  // untouched by the job's options
}

TEST_F(SettingsTest, WithoutAReadablePpdEverySettingIsMinusOne)
{
    const std::string allMissing = expectedLog(std::vector<int>(18, -1));
    EXPECT_EQ(load(std::nullopt, "Density=5"), allMissing);
    // A PPD that cannot be read is named in an ERROR line before the values.
    testsupport::writeFile(dir_.file("garbage.ppd"), "this is not a PPD\n");
    for (const char* name : {"no-such.ppd", "garbage.ppd"}) {
        const std::string log = load(dir_.file(name));
        const std::string error = "ERROR: Unable to read the PPD file \"" + dir_.file(name) + "\": ";
        EXPECT_EQ(log.rfind(error, 0), 0u) << log;
        EXPECT_EQ(log.substr(log.find('\n') + 1), allMissing);
    }
    // The limited getters pass -1 through; the feed after printing does not.
    EXPECT_EQ(GetBrightness(), -1);
    EXPECT_EQ(VerticalOffset(), -1);
    EXPECT_EQ(GetAfterPrintFeed(), 0);
    EXPECT_EQ(GetAlignment(), 1);
    EXPECT_EQ(getOptionChoiceIndex("Density", nullptr), -1);
}

TEST_F(SettingsTest, ChoicesAreReadByTheirLeadingNumberAndMissingOnesAreMinusOne)
{
    // A default naming a choice that does not exist marks nothing; so does a missing option.
    loadText(testsupport::ppdText({{"Imagealgorithm", {"10abc", "0", "10abc"}},
                                   {"Threshold", {"Automatic", "Automatic"}},
                                   {"Openingfeed", {"+3mm", "+3mm"}},
                                   {"Density", {"9", "4"}}}));
    EXPECT_EQ(GetBinarizationAlgorithm(), 10);
    EXPECT_EQ(GetThreshholdByManual(), 0);
    EXPECT_EQ(GetOpeningFeed(), 3);
    EXPECT_EQ(settingsThermalSensitivity.Density, -1);
    EXPECT_EQ(settingsThermalSensitivity.Contrast, -1);
}

TEST_F(SettingsTest, GettersLimitWhatIsLoggedAsStored)
{
    const std::string log = loadText(testsupport::ppdWithDefaults(
        {{"Brightness", "150"}, {"Contrast", "-100"}, {"HorizontalOffset", "101"}, {"VerticalOffset", "-101"},
         {"AfterFeed", "-2"}}));
    EXPECT_NE(log.find("DEBUG: PPD Brightness=150\n"), std::string::npos);
    EXPECT_NE(log.find("DEBUG: PPD AfterPrintFeed=-2\n"), std::string::npos);
    EXPECT_EQ(GetBrightness(), 0);
    EXPECT_EQ(GetContrast(), -100);
    EXPECT_EQ(HorizontalOffset(), 0);
    EXPECT_EQ(VerticalOffset(), 0);
    EXPECT_EQ(GetAfterPrintFeed(), 0);

    loadText(testsupport::ppdWithDefaults({{"Brightness", "100"}, {"Contrast", "-101"}, {"AfterFeed", "4"}}));
    EXPECT_EQ(GetBrightness(), 100);
    EXPECT_EQ(GetContrast(), 0);
    EXPECT_EQ(GetAfterPrintFeed(), 4);
}

TEST_F(SettingsTest, ShippedPpdDefaultsAreAPlainReceiptSetup)
{
    // Continuous paper, middle density, Otsu with an automatic threshold,
    // blank paper trimmed at the bottom with a 2 mm margin; all else 0.
    EXPECT_EQ(load(testsupport::sourcePath("ppd/zorvan.ppd")),
              expectedLog({1, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2}));
    // Negative choices are marked from the job's options like any other.
    load(testsupport::sourcePath("ppd/zorvan.ppd"), "Brightness=-100 HorizontalOffset=-8 Imagealgorithm=10 Threshold=128");
    EXPECT_EQ(GetBrightness(), -100);
    EXPECT_EQ(HorizontalOffset(), -8);
    EXPECT_EQ(GetBinarizationAlgorithm(), 10);
    EXPECT_EQ(GetThreshholdByManual(), 128);
}

}  // namespace

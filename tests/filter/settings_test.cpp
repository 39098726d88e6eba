// Print settings read from the PPD and the job's options.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "filter/Functions.h"
#include "filter/settingsThermalSensitivityPara.h"
#include "support/Ppd.h"
#include "support/Process.h"

namespace {

using testsupport::TempDir;

const char* const kLoggedNames[18] = {
    "MediaType",      "Density",         "Openingfeed",    "Brightness",
    "Contrast",       "Imagealgorithm",  "Threshold",      "HorizontalOffset",
    "VerticalOffset", "BlackAndWhiteInversion", "PaperCutMode", "AfterPrintFeed",
    "BlackMarkOffset", "setBlackMarkOffset", "MediaTypeSet", "PaperSaveMode",
    "PageHeaderBlank", "EndBlank"};

// The 18 DEBUG lines for the given values, in logging order.
std::string expectedLog(const std::vector<int>& values)
{
    std::string log;
    for (int i = 0; i < 18; ++i) {
        log += "DEBUG: PPD " + std::string(kLoggedNames[i]) + "=" + std::to_string(values[i]) + "\n";
    }
    return log;
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

    TempDir dir_;

private:
    std::optional<std::string> saved_;
};

TEST_F(SettingsTest, LogsEveryDefaultInOrderAndJobOptionsOverrideThem)
{
    auto ppd = testsupport::writeSettingsPpd(dir_, {{"MediaType", "2"}, {"Density", "3"}, {"Openingfeed", "1"},
                                                    {"Brightness", "-50"}, {"Contrast", "50"},
                                                    {"Imagealgorithm", "7"}, {"Threshold", "128"},
                                                    {"HorizontalOffset", "1"}, {"VerticalOffset", "-1"},
                                                    {"Blackandwhiteinversion", "1"}, {"PaperCutMode", "2"},
                                                    {"AfterFeed", "3"}, {"BlackMarkOffset", "4"},
                                                    {"setBlackMarkOffset", "1"}, {"MediaTypeSet", "1"},
                                                    {"PaperSaveMode", "3"}, {"PageHeaderBlank", "2"},
                                                    {"EndBlank", "5"}});
    // Distinct values per option catch a field filled from the wrong keyword.
    EXPECT_EQ(load(ppd), expectedLog({2, 3, 1, -50, 50, 7, 128, 1, -1, 1, 2, 3, 4, 1, 1, 3, 2, 5}));
    EXPECT_EQ(settingsThermalSensitivity.MediaTypeSet, 1);
    EXPECT_EQ(settingsThermalSensitivity.setBlackMarkOffset, 1);
    EXPECT_EQ(settingsThermalSensitivity.BlackMarkOffset, 4);
    EXPECT_EQ(GetDensity(), 3);

    const std::string log = load(ppd, "Density=5 EndBlank=1 copies=2 job-uuid=urn:uuid:x");
    EXPECT_NE(log.find("DEBUG: PPD Density=5\n"), std::string::npos) << log;
    EXPECT_NE(log.find("DEBUG: PPD EndBlank=1\n"), std::string::npos) << log;
    EXPECT_EQ(GetDensity(), 5);
    EXPECT_EQ(GetEndBlank(), 1);
    EXPECT_EQ(GetBinarizationAlgorithm(), 7);  // untouched by the job's options
}

TEST_F(SettingsTest, WithoutAPpdEverySettingIsMinusOne)
{
    const std::string allMissing = expectedLog(std::vector<int>(18, -1));
    EXPECT_EQ(load(std::nullopt, "Density=5"), allMissing);
    // A PPD that cannot be read is named in an ERROR line before the values.
    for (const char* name : {"no-such.ppd", "garbage.ppd"}) {
        if (std::string(name) == "garbage.ppd") {
            testsupport::writeFile(dir_.file(name), "this is not a PPD\n");
        }
        const std::string log = load(dir_.file(name));
        const std::string error = "ERROR: Unable to read the PPD file \"" + dir_.file(name) + "\": ";
        EXPECT_EQ(log.rfind(error, 0), 0u) << log;
        EXPECT_EQ(log.substr(log.find('\n') + 1), allMissing);
    }

    // The limited getters pass -1 through; the feed after printing does not.
    EXPECT_EQ(GetBrightness(), -1);
    EXPECT_EQ(GetContrast(), -1);
    EXPECT_EQ(HorizontalOffset(), -1);
    EXPECT_EQ(VerticalOffset(), -1);
    EXPECT_EQ(GetAfterPrintFeed(), 0);
    EXPECT_EQ(GetDensity(), -1);
    EXPECT_EQ(GetAlignment(), 1);
}

TEST_F(SettingsTest, MissingOptionOrMissingDefaultChoiceReadsMinusOne)
{
    auto options = testsupport::settingsOptions();
    testsupport::removePpdOption(options, "Contrast");
    auto ppd = testsupport::writePpd(dir_, options);
    load(ppd);
    EXPECT_EQ(settingsThermalSensitivity.Contrast, -1);
    EXPECT_EQ(settingsThermalSensitivity.Brightness, 0);

    // A default naming a choice that does not exist marks nothing.
    std::string text = testsupport::ppdText(testsupport::settingsOptions());
    const std::string good = "*DefaultDensity: 4\n";
    ASSERT_NE(text.find(good), std::string::npos);
    text.replace(text.find(good), good.size(), "*DefaultDensity: 9\n");
    testsupport::writeFile(dir_.file("bogus.ppd"), text);
    load(dir_.file("bogus.ppd"));
    EXPECT_EQ(settingsThermalSensitivity.Density, -1);
    EXPECT_EQ(settingsThermalSensitivity.Imagealgorithm, 0);

    EXPECT_EQ(getOptionChoiceIndex("Density", nullptr), -1);
}

TEST_F(SettingsTest, ChoiceKeywordsAreReadByTheirLeadingNumber)
{
    auto options = testsupport::settingsOptions();
    testsupport::setPpdDefault(options, "Imagealgorithm", "10abc");
    testsupport::setPpdDefault(options, "Threshold", "Automatic");
    testsupport::setPpdDefault(options, "Openingfeed", "+3mm");
    auto ppd = testsupport::writePpd(dir_, options);
    load(ppd);
    EXPECT_EQ(GetBinarizationAlgorithm(), 10);
    EXPECT_EQ(GetThreshholdByManual(), 0);
    EXPECT_EQ(GetOpeningFeed(), 3);
}

TEST_F(SettingsTest, GettersLimitWhatIsLoggedAsStored)
{
    auto ppd = testsupport::writeSettingsPpd(dir_, {{"Brightness", "150"}, {"Contrast", "-100"},
                                                    {"HorizontalOffset", "101"}, {"VerticalOffset", "-101"},
                                                    {"AfterFeed", "-2"}});
    const std::string log = load(ppd);
    EXPECT_NE(log.find("DEBUG: PPD Brightness=150\n"), std::string::npos);
    EXPECT_NE(log.find("DEBUG: PPD HorizontalOffset=101\n"), std::string::npos);
    EXPECT_NE(log.find("DEBUG: PPD AfterPrintFeed=-2\n"), std::string::npos);
    EXPECT_EQ(GetBrightness(), 0);
    EXPECT_EQ(GetContrast(), -100);
    EXPECT_EQ(HorizontalOffset(), 0);
    EXPECT_EQ(VerticalOffset(), 0);
    EXPECT_EQ(GetAfterPrintFeed(), 0);

    load(testsupport::writeSettingsPpd(dir_, {{"Brightness", "100"}, {"Contrast", "-101"}, {"AfterFeed", "4"}},
                                       "second.ppd"));
    EXPECT_EQ(GetBrightness(), 100);
    EXPECT_EQ(GetContrast(), 0);
    EXPECT_EQ(GetAfterPrintFeed(), 4);
    EXPECT_EQ(GetAlignment(), 1);
}

}  // namespace

// The shipped PPD's choices and page sizes. (cupstestppd runs in the e2e
// tests; the defaults are read in settings_test.)
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/Process.h"

namespace {

const std::string kShippedPpd = testsupport::sourcePath("ppd/zorvan.ppd");

// The shipped PPD as text: for each main keyword, its lines' option keyword,
// text and value ("*Density 4/Level 4: \"\"" gives Density -> {4, Level 4, ""}).
struct PpdEntry {
    std::string option;
    std::string text;
    std::string value;
};

std::map<std::string, std::vector<PpdEntry>> readPpdEntries(const std::string& file)
{
    std::map<std::string, std::vector<PpdEntry>> entries;
    std::istringstream in(testsupport::readFile(file));
    std::string line;
    while (std::getline(in, line)) {
        if (line.size() < 2 || line[0] != '*' || line[1] == '%') {
            continue;
        }
        const auto colon = line.find(':');
        const auto blank = line.find(' ');
        if (colon == std::string::npos || blank == std::string::npos || blank > colon) {
            continue;
        }
        const std::string keyword = line.substr(1, blank - 1);
        std::string option = line.substr(blank + 1, colon - blank - 1);
        std::string text;
        if (auto slash = option.find('/'); slash != std::string::npos) {
            text = option.substr(slash + 1);
            option.resize(slash);
        }
        std::string value = line.substr(colon + 1);
        value.erase(0, value.find_first_not_of(' '));
        entries[keyword].push_back({option, text, value});
    }
    return entries;
}

std::string defaultOf(const std::string& keyword)
{
    // "*DefaultX: v" has no blank before the colon, so it is read separately.
    std::istringstream in(testsupport::readFile(kShippedPpd));
    std::string line;
    const std::string prefix = "*Default" + keyword + ": ";
    while (std::getline(in, line)) {
        if (line.rfind(prefix, 0) == 0) {
            return line.substr(prefix.size());
        }
    }
    return {};
}

TEST(ShippedPpd, EveryChoiceKeywordIsItsNumberAndWithinRange)
{
    const auto entries = readPpdEntries(kShippedPpd);
    const char* const keywords[] = {"MediaType", "Density", "Openingfeed", "Brightness", "Contrast",
                                    "Imagealgorithm", "Threshold", "HorizontalOffset", "VerticalOffset",
                                    "Blackandwhiteinversion", "PaperCutMode", "AfterFeed", "BlackMarkOffset",
                                    "setBlackMarkOffset", "MediaTypeSet", "PaperSaveMode", "PageHeaderBlank",
                                    "EndBlank"};
    for (const std::string keyword : keywords) {
        ASSERT_TRUE(entries.contains(keyword)) << keyword;
        std::set<int> values;
        for (const PpdEntry& choice : entries.at(keyword)) {
            const int value = std::atoi(choice.option.c_str());
            EXPECT_EQ(std::to_string(value), choice.option) << keyword;
            EXPECT_FALSE(choice.text.empty()) << keyword << " " << choice.option << " needs a readable text";
            EXPECT_NE(choice.text, choice.option) << keyword;
            values.insert(value);
            if (keyword == "Brightness" || keyword == "Contrast" || keyword == "HorizontalOffset" ||
                keyword == "VerticalOffset") {
                EXPECT_TRUE(value >= -100 && value <= 100) << keyword << " " << value;
            } else {
                EXPECT_GE(value, 0) << keyword;
            }
            if (keyword == "Threshold") {
                EXPECT_TRUE(value == 0 || (value >= 14 && value <= 255)) << value;
            }
        }
        EXPECT_TRUE(values.contains(std::atoi(defaultOf(keyword).c_str()))) << keyword;
        if (keyword == "Imagealgorithm") {
            EXPECT_EQ(values, (std::set<int>{0, 2, 3, 7, 8, 9, 10, 11}));
        }
    }

    ASSERT_TRUE(entries.contains("ColorModel"));
    EXPECT_EQ(defaultOf("ColorModel"), "RGB");
    std::map<std::string, std::string> models;
    for (const PpdEntry& e : entries.at("ColorModel")) {
        models[e.option] = e.value;
    }
    ASSERT_EQ(models.size(), 2u);
    EXPECT_NE(models["RGB"].find("/cupsColorSpace 1/cupsColorOrder 0/cupsBitsPerColor 8"), std::string::npos);
    EXPECT_NE(models["Gray"].find("/cupsColorSpace 3/cupsColorOrder 0/cupsBitsPerColor 8"), std::string::npos);
    EXPECT_EQ(defaultOf("Resolution"), "203dpi");

    const std::string text = testsupport::readFile(kShippedPpd);
    EXPECT_NE(text.find("\n*cupsFilter: \"application/vnd.cups-raster 0 rastertozorvan\"\n"), std::string::npos);
    EXPECT_NE(text.find("\n*cupsManualCopies: False\n"), std::string::npos);
}

TEST(ShippedPpd, PageSizesMatchThePrintHead)
{
    const auto entries = readPpdEntries(kShippedPpd);
    std::set<int> widths;
    ASSERT_TRUE(entries.contains("ImageableArea"));
    for (const PpdEntry& area : entries.at("ImageableArea")) {
        double left = 0, bottom = 0, right = 0, top = 0;
        ASSERT_EQ(std::sscanf(area.value.c_str(), "\"%lf %lf %lf %lf\"", &left, &bottom, &right, &top), 4);
        // The raster width CUPS derives from the area at 203 dpi, rounded or
        // truncated: either way the width of the print head.
        const double dots = (right - left) * 203.0 / 72.0;
        EXPECT_EQ(static_cast<int>(dots), static_cast<int>(dots + 0.5)) << area.option;
        widths.insert(static_cast<int>(dots));
    }
    EXPECT_EQ(widths, (std::set<int>{384, 576}));
    EXPECT_EQ(entries.at("PaperDimension").size(), entries.at("ImageableArea").size());
}

}  // namespace

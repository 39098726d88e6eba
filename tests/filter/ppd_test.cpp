// The shipped PPD's choices and page sizes. (cupstestppd runs in the e2e
// tests; the defaults are read in settings_test.)
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/Process.h"

namespace {

// One "*Keyword Option/Text: Value" line of a PPD.
struct PpdEntry {
    std::string option, text, value;
};

struct ShippedPpd {
    std::map<std::string, std::vector<PpdEntry>> entries;  // by main keyword
    std::map<std::string, std::string> defaults;           // "*DefaultX: v"
    std::string text;
};

ShippedPpd readShippedPpd()
{
    ShippedPpd ppd;
    ppd.text = testsupport::readFile(testsupport::sourcePath("ppd/zorvan.ppd"));
    const std::regex entry(R"(^\*(\w+) ([^/:]+)(?:/([^:]*))?: *(.*)$)"), fallback(R"(^\*Default(\w+): (.*)$)");
    std::istringstream in(ppd.text);
    std::smatch m;
    for (std::string line; std::getline(in, line);) {
        if (std::regex_match(line, m, fallback)) {
            ppd.defaults[m[1]] = m[2];
        } else if (std::regex_match(line, m, entry)) {
            ppd.entries[m[1]].push_back({m[2], m[3], m[4]});
        }
    }
    return ppd;
}

TEST(ShippedPpd, EveryChoiceKeywordIsItsNumberAndWithinRange)
{
    ShippedPpd ppd = readShippedPpd();
    const std::set<std::string> signedOptions = {"Brightness", "Contrast", "HorizontalOffset", "VerticalOffset"};
    for (const std::string keyword :
         {"MediaType", "Density", "Openingfeed", "Brightness", "Contrast", "Imagealgorithm", "Threshold",
          "HorizontalOffset", "VerticalOffset", "Blackandwhiteinversion", "PaperCutMode", "AfterFeed",
          "BlackMarkOffset", "setBlackMarkOffset", "MediaTypeSet", "PaperSaveMode", "PageHeaderBlank", "EndBlank"}) {
        ASSERT_TRUE(ppd.entries.contains(keyword)) << keyword;
        std::set<int> values;
        for (const PpdEntry& choice : ppd.entries.at(keyword)) {
            const int value = std::atoi(choice.option.c_str());
            EXPECT_EQ(std::to_string(value), choice.option) << keyword;
            EXPECT_TRUE(!choice.text.empty() && choice.text != choice.option) << keyword << " needs a readable text";
            EXPECT_TRUE(signedOptions.contains(keyword) ? value >= -100 && value <= 100 : value >= 0)
                << keyword << " " << value;
            if (keyword == "Threshold") {
                EXPECT_TRUE(value == 0 || (value >= 14 && value <= 255)) << value;
            }
            values.insert(value);
        }
        EXPECT_TRUE(ppd.defaults.contains(keyword) && values.contains(std::atoi(ppd.defaults.at(keyword).c_str())))
            << keyword;
        if (keyword == "Imagealgorithm") {
            EXPECT_EQ(values, (std::set<int>{0, 2, 3, 7, 8, 9, 10, 11}));
        }
    }

    std::map<std::string, std::string> models;
    for (const PpdEntry& e : ppd.entries["ColorModel"]) {
        models[e.option] = e.value;
    }
    ASSERT_EQ(models.size(), 2u);
    EXPECT_EQ(ppd.defaults.at("ColorModel"), "RGB");
    EXPECT_NE(models["RGB"].find("/cupsColorSpace 1/cupsColorOrder 0/cupsBitsPerColor 8"), std::string::npos);
    EXPECT_NE(models["Gray"].find("/cupsColorSpace 3/cupsColorOrder 0/cupsBitsPerColor 8"), std::string::npos);
    EXPECT_EQ(ppd.defaults.at("Resolution"), "203dpi");
    EXPECT_NE(ppd.text.find("\n*cupsFilter: \"application/vnd.cups-raster 0 rastertozorvan\"\n"), std::string::npos);
    EXPECT_NE(ppd.text.find("\n*cupsManualCopies: False\n"), std::string::npos);
}

TEST(ShippedPpd, PageSizesMatchThePrintHead)
{
    ShippedPpd ppd = readShippedPpd();
    std::set<int> widths;
    ASSERT_FALSE(ppd.entries["ImageableArea"].empty());
    for (const PpdEntry& area : ppd.entries["ImageableArea"]) {
        double left = 0, bottom = 0, right = 0, top = 0;
        ASSERT_EQ(std::sscanf(area.value.c_str(), "\"%lf %lf %lf %lf\"", &left, &bottom, &right, &top), 4);
        // The raster width CUPS derives from the area at 203 dpi, rounded or
        // truncated: either way the width of the print head.
        const double dots = (right - left) * 203.0 / 72.0;
        EXPECT_EQ(static_cast<int>(dots), static_cast<int>(dots + 0.5)) << area.option;
        widths.insert(static_cast<int>(dots));
    }
    EXPECT_EQ(widths, (std::set<int>{384, 576}));
    EXPECT_EQ(ppd.entries["PaperDimension"].size(), ppd.entries["ImageableArea"].size());
}

}  // namespace

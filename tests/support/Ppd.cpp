#include "support/Ppd.h"

#include <algorithm>
#include <sstream>

namespace testsupport {

std::vector<PpdOption> settingsOptions()
{
    const std::vector<std::string> onOff = {"0", "1"};
    const std::vector<std::string> steps = {"-100", "-50", "-1", "0", "1", "50", "100"};
    const std::vector<std::string> small = {"0", "1", "2", "3", "4", "5"};
    return {
        {"MediaType", "1", {"0", "1", "2", "3", "4"}},
        {"Density", "4", {"1", "2", "3", "4", "5", "6", "7"}},
        {"Openingfeed", "0", small},
        {"Brightness", "0", steps},
        {"Contrast", "0", steps},
        {"Imagealgorithm", "0", {"0", "2", "3", "7", "8", "9", "10", "11"}},
        {"Threshold", "0", {"0", "64", "128", "192"}},
        {"HorizontalOffset", "0", steps},
        {"VerticalOffset", "0", steps},
        {"Blackandwhiteinversion", "0", onOff},
        {"PaperCutMode", "0", {"0", "1", "2"}},
        {"AfterFeed", "0", small},
        {"BlackMarkOffset", "0", small},
        {"setBlackMarkOffset", "0", onOff},
        {"MediaTypeSet", "0", onOff},
        {"PaperSaveMode", "0", {"0", "1", "2", "3", "4"}},
        {"PageHeaderBlank", "0", small},
        {"EndBlank", "0", small},
    };
}

void setPpdDefault(std::vector<PpdOption>& options, const std::string& keyword, const std::string& choice)
{
    auto it = std::find_if(options.begin(), options.end(), [&](const PpdOption& o) { return o.keyword == keyword; });
    if (it == options.end()) {
        options.push_back({keyword, choice, {choice}});
        return;
    }
    it->defaultChoice = choice;
}

void removePpdOption(std::vector<PpdOption>& options, const std::string& keyword)
{
    std::erase_if(options, [&](const PpdOption& o) { return o.keyword == keyword; });
}

std::string ppdText(const std::vector<PpdOption>& options)
{
    std::ostringstream ppd;
    ppd << "*PPD-Adobe: \"4.3\"\n"
           "*FormatVersion: \"4.3\"\n"
           "*FileVersion: \"1.0\"\n"
           "*LanguageVersion: English\n"
           "*LanguageEncoding: ISOLatin1\n"
           "*PCFileName: \"TEST.PPD\"\n"
           "*Manufacturer: \"Test\"\n"
           "*Product: \"(Test Printer)\"\n"
           "*ModelName: \"Test Printer\"\n"
           "*ShortNickName: \"Test Printer\"\n"
           "*NickName: \"Test Printer\"\n"
           "*PSVersion: \"(3010.000) 0\"\n"
           "*ColorDevice: True\n"
           "*DefaultColorSpace: RGB\n"
           "*FileSystem: False\n"
           "*Throughput: \"1\"\n"
           "*LandscapeOrientation: Plus90\n"
           "*TTRasterizer: Type42\n"
           "*cupsFilter: \"application/vnd.cups-raster 0 rastertozorvan\"\n"
           "*cupsManualCopies: False\n"
           "*OpenUI *PageSize/Media Size: PickOne\n"
           "*OrderDependency: 10 AnySetup *PageSize\n"
           "*DefaultPageSize: Roll80\n"
           "*PageSize Roll80/80 mm roll: \"<</PageSize[204.30 566.93]>>setpagedevice\"\n"
           "*CloseUI: *PageSize\n"
           "*DefaultImageableArea: Roll80\n"
           "*ImageableArea Roll80/80 mm roll: \"0 0 204.30 566.93\"\n"
           "*DefaultPaperDimension: Roll80\n"
           "*PaperDimension Roll80/80 mm roll: \"204.30 566.93\"\n";
    for (const PpdOption& option : options) {
        std::vector<std::string> choices = option.choices;
        if (!option.defaultChoice.empty() &&
            std::find(choices.begin(), choices.end(), option.defaultChoice) == choices.end()) {
            choices.push_back(option.defaultChoice);
        }
        ppd << "*OpenUI *" << option.keyword << "/" << option.keyword << ": PickOne\n"
            << "*OrderDependency: 20 AnySetup *" << option.keyword << "\n"
            << "*Default" << option.keyword << ": " << option.defaultChoice << "\n";
        for (const std::string& choice : choices) {
            ppd << "*" << option.keyword << " " << choice << "/" << choice << ": \"\"\n";
        }
        ppd << "*CloseUI: *" << option.keyword << "\n";
    }
    return ppd.str();
}

std::string writePpd(const TempDir& dir, const std::vector<PpdOption>& options, const std::string& fileName)
{
    std::string path = dir.file(fileName);
    writeFile(path, ppdText(options));
    return path;
}

std::string writeSettingsPpd(const TempDir& dir, const std::vector<std::pair<std::string, std::string>>& defaults,
                             const std::string& fileName)
{
    std::vector<PpdOption> options = settingsOptions();
    for (const auto& [keyword, choice] : defaults) {
        setPpdDefault(options, keyword, choice);
    }
    return writePpd(dir, options, fileName);
}

}  // namespace testsupport

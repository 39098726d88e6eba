#include "support/Ppd.h"

namespace testsupport {

std::string ppdText(const std::map<std::string, std::vector<std::string>>& options)
{
    std::string text =
        "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*FileVersion: \"1.0\"\n*LanguageVersion: English\n"
        "*LanguageEncoding: ISOLatin1\n*PCFileName: \"ZTEST.PPD\"\n*Manufacturer: \"Test\"\n*Product: \"(Test)\"\n"
        "*ModelName: \"Test\"\n*ShortNickName: \"Test\"\n*NickName: \"Test\"\n";
    for (const auto& [keyword, choices] : options) {
        text += "*OpenUI *" + keyword + "/" + keyword + ": PickOne\n";
        text += "*Default" + keyword + ": " + choices.at(0) + "\n";
        for (std::size_t i = 1; i < choices.size(); ++i) {
            text += "*" + keyword + " " + choices[i] + "/" + choices[i] + ": \"\"\n";
        }
        text += "*CloseUI: *" + keyword + "\n";
    }
    return text;
}

std::string ppdWithDefaults(const std::map<std::string, std::string>& defaults)
{
    std::map<std::string, std::vector<std::string>> options;
    for (const auto& [keyword, value] : defaults) {
        options[keyword] = {value, value};
    }
    return ppdText(options);
}

}  // namespace testsupport

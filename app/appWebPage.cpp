#include "app/appWebPage.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "app/appDrivers.h"
#include "app/appSettings.h"

namespace {

constexpr const char* pageName = "paper";
constexpr const char* pageTitle = "Paper and Print Settings";

struct IppDeleter {
    void operator()(ipp_t* ipp) const { ippDelete(ipp); }
};
using Ipp = std::unique_ptr<ipp_t, IppDeleter>;

struct OptionsDeleter {
    int count = 0;
    void operator()(cups_option_t* options) const { cupsFreeOptions(count, options); }
};

// "80 mm roll x 200 mm" for om_roll80-200mm_72.08x200mm: the roll's width is
// in its name, the length in its size.
std::string rollLabel(const char* mediaName)
{
    const char* roll = std::strstr(mediaName, "roll");
    const pwg_media_t* pwg = pwgMediaForPWG(mediaName);
    if (roll == nullptr || pwg == nullptr) {
        return mediaName;
    }
    char text[96];
    std::snprintf(text, sizeof text, "%d mm roll x %d mm (printed %.1f mm wide)", std::atoi(roll + 4),
                  pwg->length / 100, pwg->width / 100.0);
    return text;
}

const char* mediaTypeLabel(const char* keyword)
{
    if (std::strcmp(keyword, "labels") == 0) {
        return "Label paper (gap)";
    }
    if (std::strcmp(keyword, "black-mark") == 0) {
        return "Black mark paper";
    }
    return "Continuous receipt paper";
}

// The roll sizes a printer offers (the custom range left out).
bool isRollSize(const char* mediaName) { return std::strncmp(mediaName, "roll_", 5) != 0; }

// Saves the form's values: the loaded roll's size and type, and every setting
// whose value is one of its own. The message for the banner.
const char* save(pappl_client_t* client, pappl_printer_t* printer)
{
    cups_option_t* form = nullptr;
    const int count = papplClientGetForm(client, &form);
    const std::unique_ptr<cups_option_t, OptionsDeleter> owned(form, OptionsDeleter{count});
    if (count == 0 || !papplClientIsValidForm(client, count, form)) {
        return "The form was not accepted; reload the page and try again.";
    }
    pappl_pr_driver_data_t data;
    papplPrinterGetDriverData(printer, &data);

    pappl_media_col_t ready = data.media_ready[0];
    const char* size = cupsGetOption("roll-size", count, form);
    for (int i = 0; size != nullptr && i < data.num_media; ++i) {
        if (isRollSize(data.media[i]) && std::strcmp(size, data.media[i]) == 0) {
            const pwg_media_t* pwg = pwgMediaForPWG(size);
            std::snprintf(ready.size_name, sizeof ready.size_name, "%s", size);
            ready.size_width = pwg->width;
            ready.size_length = pwg->length;
        }
    }
    const char* type = cupsGetOption("roll-type", count, form);
    for (int i = 0; type != nullptr && i < data.num_type; ++i) {
        if (std::strcmp(type, data.type[i]) == 0) {
            std::snprintf(ready.type, sizeof ready.type, "%s", type);
        }
    }
    data.media_ready[0] = ready;
    data.media_default = ready;

    cups_option_t* vendor = nullptr;
    int vendorCount = 0;
    for (const AppSetting& s : appSettings()) {
        const char* value = cupsGetOption(s.name, count, form);
        if (s.kind == AppSetting::Kind::Boolean) {
            value = value != nullptr ? "true" : "false";  // a checkbox left clear is not sent
        }
        if (value != nullptr && acceptsValue(s, value)) {
            vendorCount = cupsAddOption(s.name, value, vendorCount, &vendor);
        }
    }
    const std::unique_ptr<cups_option_t, OptionsDeleter> ownedVendor(vendor, OptionsDeleter{vendorCount});
    const bool saved = papplPrinterSetReadyMedia(printer, 1, &ready) &&
                       papplPrinterSetDriverDefaults(printer, &data, vendorCount, vendor);
    return saved ? "Changes saved." : "The settings could not be saved.";
}

void settingRow(pappl_client_t* client, const AppSetting& s, const char* current)
{
    papplClientHTMLPrintf(client, "<tr><th><label for=\"%s\">%s:</label></th><td>", s.name, s.label);
    switch (s.kind) {
    case AppSetting::Kind::Keyword:
        papplClientHTMLPrintf(client, "<select name=\"%s\" id=\"%s\">", s.name, s.name);
        for (const AppSetting::Choice& c : s.choices) {
            papplClientHTMLPrintf(client, "<option value=\"%s\"%s>%s</option>", c.keyword,
                                  std::strcmp(c.keyword, current) == 0 ? " selected" : "", c.label);
        }
        papplClientHTMLPuts(client, "</select>");
        break;
    case AppSetting::Kind::Range:
        papplClientHTMLPrintf(client, "<input type=\"number\" name=\"%s\" id=\"%s\" min=\"%d\" max=\"%d\" value=\"%d\"> ",
                              s.name, s.name, s.low, s.high, std::atoi(current));
        papplClientHTMLEscape(client, s.unit, 0);
        break;
    case AppSetting::Kind::Boolean:
        papplClientHTMLPrintf(client, "<input type=\"checkbox\" name=\"%s\" id=\"%s\"%s>", s.name, s.name,
                              std::strcmp(current, "true") == 0 ? " checked" : "");
        break;
    }
    papplClientHTMLPuts(client, "<br><small>");
    papplClientHTMLEscape(client, s.help, 0);
    papplClientHTMLPuts(client, "</small></td></tr>\n");
}

bool showPage(pappl_client_t* client, void* data)
{
    auto* printer = static_cast<pappl_printer_t*>(data);
    if (!papplClientHTMLAuthorize(client)) {
        return true;
    }
    const char* banner = nullptr;
    if (papplClientGetMethod(client) == HTTP_STATE_POST) {
        banner = save(client, printer);
    }
    pappl_pr_driver_data_t driver;
    papplPrinterGetDriverData(printer, &driver);
    const Ipp defaults(papplPrinterGetDriverAttributes(printer));

    papplClientHTMLPrinterHeader(client, printer, pageTitle, 0, nullptr, nullptr);
    if (banner != nullptr) {
        papplClientHTMLPrintf(client, "<div class=\"banner\">%s</div>\n", banner);
    }
    papplClientHTMLPuts(client, "<p>What every job gets unless it asks for something else. Lengths are in "
                                "millimetres.</p>\n");
    papplClientHTMLStartForm(client, papplClientGetURI(client), false);
    papplClientHTMLPuts(client, "<table class=\"form\"><tbody>\n");

    const pappl_media_col_t& loaded = driver.media_ready[0];
    papplClientHTMLPuts(client, "<tr><th><label for=\"roll-size\">Roll loaded:</label></th><td>"
                                "<select name=\"roll-size\" id=\"roll-size\">");
    for (int i = 0; i < driver.num_media; ++i) {
        if (isRollSize(driver.media[i])) {
            papplClientHTMLPrintf(client, "<option value=\"%s\"%s>%s</option>", driver.media[i],
                                  std::strcmp(driver.media[i], loaded.size_name) == 0 ? " selected" : "",
                                  rollLabel(driver.media[i]).c_str());
        }
    }
    papplClientHTMLPuts(client, "</select> <select name=\"roll-type\" id=\"roll-type\">");
    for (int i = 0; i < driver.num_type; ++i) {
        papplClientHTMLPrintf(client, "<option value=\"%s\"%s>%s</option>", driver.type[i],
                              std::strcmp(driver.type[i], loaded.type) == 0 ? " selected" : "",
                              mediaTypeLabel(driver.type[i]));
    }
    papplClientHTMLPuts(client, "</select><br><small>The page length a job gets when it names none, and the "
                                "paper on the roll.</small></td></tr>\n");

    for (const AppSetting& s : appSettings()) {
        char current[256] = "";
        const std::string name = std::string(s.name) + "-default";
        if (ipp_attribute_t* attr = ippFindAttribute(defaults.get(), name.c_str(), IPP_TAG_ZERO)) {
            ippAttributeString(attr, current, sizeof current);
        }
        settingRow(client, s, current);
    }
    papplClientHTMLPuts(client, "<tr><th></th><td><input type=\"submit\" value=\"Save Changes\"></td></tr>\n"
                                "</tbody></table></form>\n");
    papplClientHTMLPrinterFooter(client);
    return true;
}

}  // namespace

void addSettingsPage(pappl_printer_t* printer, void*)
{
    char path[256];
    if (papplPrinterGetPath(printer, pageName, path, sizeof path) == nullptr) {
        return;
    }
    // PAPPL removes a printer's resources and links with the printer.
    papplSystemAddResourceCallback(papplPrinterGetSystem(printer), path, "text/html", showPage, printer);
    papplPrinterAddLink(printer, pageTitle, path,
                        static_cast<pappl_loptions_t>(PAPPL_LOPTIONS_NAVIGATION | PAPPL_LOPTIONS_PRINTER));
}

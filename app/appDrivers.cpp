#include "app/appDrivers.h"

#include <cstring>
#include <iterator>

#include "app/appJob.h"
#include "app/appSettings.h"
#include "app/appStatus.h"

namespace {

// Widths: PAPPL truncates width × 203 / 2540 to whole dots, so 72.08 mm is
// the narrowest width that still gives 576 dots (72.07 gives 575) and 48.05
// mm the narrowest for 384. Lengths as in the PPD; the name part of each PWG
// name carries no dot, as PWG self-describing names require, and metric
// sizes take the class "om" ("oe" is for sizes in inches).
const PrinterModel models[] = {
    {"zorvan_80mm", "Zorvan 80 mm Thermal Printer", 576, 7208,
     {"om_roll80-100mm_72.08x100mm", "om_roll80-150mm_72.08x150mm", "om_roll80-200mm_72.08x200mm",
      "om_roll80-297mm_72.08x297mm", "om_roll80-600mm_72.08x600mm", "roll_min_25x25mm",
      "roll_max_72.08x3000mm"}},
    {"zorvan_58mm", "Zorvan 58 mm Thermal Printer", 384, 4805,
     {"om_roll58-100mm_48.05x100mm", "om_roll58-150mm_48.05x150mm", "om_roll58-200mm_48.05x200mm",
      "om_roll58-297mm_48.05x297mm", "om_roll58-600mm_48.05x600mm", "roll_min_25x25mm",
      "roll_max_48.05x3000mm"}},
};

pappl_pr_driver_t drivers[] = {
    {"zorvan_80mm", "Zorvan 80 mm Thermal Printer", "MFG:Zorvan;MDL:80mm Thermal Printer;CMD:ESCPOS;", nullptr},
    {"zorvan_58mm", "Zorvan 58 mm Thermal Printer", "MFG:Zorvan;MDL:58mm Thermal Printer;CMD:ESCPOS;", nullptr},
};

const PrinterModel* findModel(const char* driverName)
{
    for (const PrinterModel& model : models) {
        if (driverName != nullptr && std::strcmp(model.driverName, driverName) == 0) {
            return &model;
        }
    }
    return nullptr;
}

}  // namespace

int driverCount() { return static_cast<int>(std::size(drivers)); }

pappl_pr_driver_t* driverTable() { return drivers; }

const PrinterModel& printerModel(pappl_printer_t* printer)
{
    const PrinterModel* model = findModel(papplPrinterGetDriverName(printer));
    return model != nullptr ? *model : models[0];
}

bool zorvanDriver(pappl_system_t* system, const char* driverName, const char*, const char*,
                  pappl_pr_driver_data_t* data, ipp_t** attrs, void*)
{
    const PrinterModel* model = findModel(driverName);
    if (model == nullptr) {
        papplLog(system, PAPPL_LOGLEVEL_ERROR, "No such driver \"%s\".", driverName != nullptr ? driverName : "");
        return false;
    }
    data->rstartjob_cb = appStartJob;
    data->rstartpage_cb = appStartPage;
    data->rwriteline_cb = appWriteLine;
    data->rendpage_cb = appEndPage;
    data->rendjob_cb = appEndJob;
    data->status_cb = appPrinterStatus;

    std::strncpy(data->make_and_model, model->description, sizeof data->make_and_model - 1);
    data->kind = PAPPL_KIND_RECEIPT | PAPPL_KIND_ROLL;
    // The printer's own command stream, sent as it is. PAPPL 1.3 needs a native
    // format: without one, a document it types but cannot convert (a PDF sent as
    // application/octet-stream) crashes the server instead of failing its job.
    data->format = nativeFormat;
    data->ppm = 10;
    data->has_supplies = true;
    data->orient_default = IPP_ORIENT_PORTRAIT;
    // 8-bit gray or colour rows: the project's own conversions make the dots,
    // not PAPPL's dithering.
    data->color_supported = PAPPL_COLOR_MODE_AUTO | PAPPL_COLOR_MODE_MONOCHROME | PAPPL_COLOR_MODE_COLOR;
    data->color_default = PAPPL_COLOR_MODE_MONOCHROME;
    data->raster_types = PAPPL_PWG_RASTER_TYPE_BLACK_8 | PAPPL_PWG_RASTER_TYPE_SGRAY_8 | PAPPL_PWG_RASTER_TYPE_SRGB_8;
    data->force_raster_type = PAPPL_PWG_RASTER_TYPE_NONE;
    data->content_default = PAPPL_CONTENT_AUTO;
    data->quality_default = IPP_QUALITY_NORMAL;
    // Zero margins make every size borderless, where PAPPL's 'auto' fills and
    // crops; fit the page to the roll's width instead.
    data->scaling_default = PAPPL_SCALING_FIT;
    data->duplex = PAPPL_DUPLEX_NONE;
    data->sides_supported = PAPPL_SIDES_ONE_SIDED;
    data->sides_default = PAPPL_SIDES_ONE_SIDED;
    data->num_resolution = 1;
    data->x_resolution[0] = 203;
    data->y_resolution[0] = 203;
    data->x_default = 203;
    data->y_default = 203;
    data->borderless = true;
    data->left_right = 0;
    data->bottom_top = 0;

    data->num_media = static_cast<int>(std::size(model->media));
    for (int i = 0; i < data->num_media; ++i) {
        data->media[i] = model->media[i];
    }
    data->num_source = 1;
    data->source[0] = "main-roll";
    data->tracking_supported = PAPPL_MEDIA_TRACKING_CONTINUOUS;
    data->num_type = static_cast<int>(std::size(mediaTypes));
    for (int i = 0; i < data->num_type; ++i) {
        data->type[i] = mediaTypes[i].keyword;
    }
    // The cutter: IPP's trim (zorvan-cut says which cut and when).
    data->finishings = PAPPL_FINISHINGS_TRIM;
    pappl_media_col_t& media = data->media_default;
    media = pappl_media_col_t{};
    std::strncpy(media.size_name, model->media[2], sizeof media.size_name - 1);
    media.size_width = model->widthHmm;
    media.size_length = 20000;
    std::strncpy(media.source, "main-roll", sizeof media.source - 1);
    std::strncpy(media.type, "continuous", sizeof media.type - 1);
    media.tracking = PAPPL_MEDIA_TRACKING_CONTINUOUS;
    data->media_ready[0] = media;

    // print-darkness onto the density command's seven levels; 50 is level 4.
    data->darkness_supported = 7;
    data->darkness_configured = 50;
    data->darkness_default = 0;

    *attrs = ippNew();
    addSettingAttributes(*data, *attrs);
    // Answers PAPPL leaves out, which IPP Everywhere clients ask for: Validate-Job
    // proposes no preferred values, and a one-sided printer has no back side to turn.
    ippAddBoolean(*attrs, IPP_TAG_PRINTER, "preferred-attributes-supported", 0);
    ippAddString(*attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "pwg-raster-document-sheet-back", nullptr, "normal");
    return true;
}

const char* zorvanAutoAdd(const char*, const char*, const char* deviceId, void*)
{
    if (deviceId == nullptr || std::strstr(deviceId, "MFG:Zorvan") == nullptr) {
        return nullptr;
    }
    return std::strstr(deviceId, "58mm") != nullptr ? "zorvan_58mm" : "zorvan_80mm";
}

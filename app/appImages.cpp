#include "app/appImages.h"

#include <jpeglib.h>
#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <memory>
#include <vector>

#include "app/appDrivers.h"

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// A decoded picture: sRGB, three bytes a pixel, top row first.
struct Picture {
    int width = 0;
    int height = 0;
    int ppi = 0;  // 0: the picture does not say
    std::vector<unsigned char> pixels;
};

File openDocument(pappl_job_t* job)
{
    const char* path = papplJobGetFilename(job);
    File file(path != nullptr ? std::fopen(path, "rb") : nullptr);
    if (!file) {
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Unable to open the document \"%s\".", path != nullptr ? path : "");
    }
    return file;
}

// Whether the system takes a picture of this size (PAPPL's own limits).
bool sizeAllowed(pappl_job_t* job, int width, int height)
{
    int maxWidth = 0;
    int maxHeight = 0;
    const std::size_t maxBytes =
        papplSystemGetMaxImageSize(papplPrinterGetSystem(papplJobGetPrinter(job)), &maxWidth, &maxHeight);
    if (width < 1 || height < 1 || width > maxWidth || height > maxHeight ||
        static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3 > maxBytes) {
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "The picture of %d x %d pixels is too large to print.", width, height);
        papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR, PAPPL_JREASON_NONE);
        return false;
    }
    return true;
}

// Hands the picture to PAPPL's placement (scaling, centring, rotation) with
// colour rows, even where the job asked for monochrome ones.
bool printPicture(pappl_job_t* job, pappl_device_t* device, const Picture& picture)
{
    pappl_pr_options_t* options = papplJobCreatePrintOptions(job, 1, true);
    if (options == nullptr) {
        return false;
    }
    cups_page_header2_t& h = options->header;
    if (h.cupsNumColors != 3) {
        h.cupsColorSpace = CUPS_CSPACE_SRGB;
        h.cupsNumColors = 3;
        h.cupsBitsPerPixel = 24;
        h.cupsBytesPerLine = h.cupsWidth * 3;
    }
    const bool printed = papplJobFilterImage(job, device, options, picture.pixels.data(), picture.width,
                                             picture.height, 3, picture.ppi, false);
    papplJobDeletePrintOptions(options);
    return printed;
}

void pngError(png_structp png, png_const_charp message)
{
    papplLogJob(static_cast<pappl_job_t*>(png_get_error_ptr(png)), PAPPL_LOGLEVEL_ERROR, "PNG: %s", message);
    png_longjmp(png, 1);
}

void pngWarning(png_structp png, png_const_charp message)
{
    papplLogJob(static_cast<pappl_job_t*>(png_get_error_ptr(png)), PAPPL_LOGLEVEL_WARN, "PNG: %s", message);
}

// Decodes into `picture`; false (with the reason logged) on a broken file.
// Kept apart from any object with a destructor: libpng's errors return by longjmp.
bool decodePng(pappl_job_t* job, std::FILE* file, Picture& picture, std::vector<png_bytep>& rows)
{
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, job, pngError, pngWarning);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (info == nullptr) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_init_io(png, file);
    png_read_info(png, info);
    picture.width = static_cast<int>(png_get_image_width(png, info));
    picture.height = static_cast<int>(png_get_image_height(png, info));
    const png_uint_32 ppiX = png_get_x_pixels_per_inch(png, info);
    picture.ppi = ppiX == png_get_y_pixels_per_inch(png, info) ? static_cast<int>(ppiX) : 0;
    if (!sizeAllowed(job, picture.width, picture.height)) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    // Whatever its kind, the picture arrives as 8-bit RGB over white paper.
    png_set_expand(png);
    png_set_scale_16(png);
    png_set_gray_to_rgb(png);
    png_color_16 white{};
    white.red = white.green = white.blue = white.gray = 0xFFFF;
    png_set_background(png, &white, PNG_BACKGROUND_GAMMA_SCREEN, 0, 1.0);
    png_set_strip_alpha(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != static_cast<std::size_t>(picture.width) * 3) {
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "PNG: unexpected row layout.");
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    picture.pixels.resize(static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height) * 3);
    rows.resize(static_cast<std::size_t>(picture.height));
    for (std::size_t y = 0; y < rows.size(); ++y) {
        rows[y] = picture.pixels.data() + y * static_cast<std::size_t>(picture.width) * 3;
    }
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

// Decodes the job's document with `decode` and prints it; a broken file fails
// the job as a document-format error.
template <class Decode>
bool filterPicture(pappl_job_t* job, pappl_device_t* device, const Decode& decode)
{
    File file = openDocument(job);
    if (!file) {
        return false;
    }
    Picture picture;
    if (!decode(file.get(), picture)) {
        papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
        return false;
    }
    return printPicture(job, device, picture);
}

bool filterPng(pappl_job_t* job, pappl_device_t* device, void*)
{
    std::vector<png_bytep> rows;
    return filterPicture(job, device,
                         [&](std::FILE* file, Picture& picture) { return decodePng(job, file, picture, rows); });
}

struct JpegError {
    jpeg_error_mgr manager;
    std::jmp_buf back;
};

void jpegError(j_common_ptr info)
{
    char message[JMSG_LENGTH_MAX];
    (*info->err->format_message)(info, message);
    papplLogJob(static_cast<pappl_job_t*>(info->client_data), PAPPL_LOGLEVEL_ERROR, "JPEG: %s", message);
    std::longjmp(reinterpret_cast<JpegError*>(info->err)->back, 1);
}

bool decodeJpeg(pappl_job_t* job, std::FILE* file, Picture& picture)
{
    jpeg_decompress_struct info{};
    JpegError error{};
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = jpegError;
    info.client_data = job;
    if (setjmp(error.back)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, file);
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_calc_output_dimensions(&info);
    picture.width = static_cast<int>(info.output_width);
    picture.height = static_cast<int>(info.output_height);
    picture.ppi = info.density_unit == 1 && info.X_density == info.Y_density ? info.X_density
                  : info.density_unit == 2 && info.X_density == info.Y_density ? info.X_density * 254 / 100
                                                                                : 0;
    if (!sizeAllowed(job, picture.width, picture.height)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    picture.pixels.resize(static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height) * 3);
    jpeg_start_decompress(&info);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = picture.pixels.data() + static_cast<std::size_t>(info.output_scanline) * picture.width * 3;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

bool filterJpeg(pappl_job_t* job, pappl_device_t* device, void*)
{
    return filterPicture(job, device, [&](std::FILE* file, Picture& picture) { return decodeJpeg(job, file, picture); });
}

}  // namespace

void addImageFilters(pappl_system_t* system)
{
    papplSystemAddMIMEFilter(system, "image/png", nativeFormat, filterPng, nullptr);
    papplSystemAddMIMEFilter(system, "image/jpeg", nativeFormat, filterJpeg, nullptr);
}

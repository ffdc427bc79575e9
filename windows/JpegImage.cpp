// SPDX-License-Identifier: GPL-3.0-or-later
#include "JpegImage.h"

#include "Error.h"

#include <csetjmp>
#include <cstdio>
#include <new>
#include <string>

extern "C" {
#include <jpeglib.h>
}

namespace kiv {

namespace {

// libjpeg reports a fatal error by calling error_exit, which must not
// return: it jumps back to the decoding step that set the jump buffer. The
// steps that can jump hold no C++ objects with destructors; the caller frees
// the decompressor and turns the failure into an exception afterwards.
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

extern "C" void ErrorExit(j_common_ptr cinfo)
{
    std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}

// Warnings (corrupt data that libjpeg decodes as far as it goes) and trace
// messages are not shown.
extern "C" void EmitMessage(j_common_ptr, int) {}
extern "C" void OutputMessage(j_common_ptr) {}

struct Decoder {
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    bool cmyk = false;
};

bool Start(Decoder& d, const unsigned char* data, unsigned long size, bool palette)
{
    if (setjmp(d.err.jump))
        return false;
    jpeg_create_decompress(&d.cinfo);
    jpeg_mem_src(&d.cinfo, data, size);
    jpeg_read_header(&d.cinfo, TRUE);

    d.cinfo.scale_num = 1;
    d.cinfo.scale_denom = 1;
    d.cinfo.dct_method = JDCT_ISLOW;
    d.cinfo.do_fancy_upsampling = TRUE;
    d.cinfo.do_block_smoothing = TRUE;
    switch (d.cinfo.jpeg_color_space) {
    case JCS_GRAYSCALE:
        d.cinfo.out_color_space = JCS_GRAYSCALE;
        break;
    case JCS_CMYK:
    case JCS_YCCK:
        // libjpeg converts these only to CMYK; the caller makes RGB of it.
        d.cinfo.out_color_space = JCS_CMYK;
        d.cmyk = true;
        break;
    default:
        d.cinfo.out_color_space = JCS_RGB;
        break;
    }
    if (palette && !d.cmyk) {
        d.cinfo.quantize_colors = TRUE;
        d.cinfo.desired_number_of_colors = 256;
        d.cinfo.two_pass_quantize = TRUE;
        d.cinfo.dither_mode = JDITHER_FS;
    }
    jpeg_start_decompress(&d.cinfo);
    return true;
}

bool ReadRows(Decoder& d, unsigned char* bits, std::size_t bytesPerLine)
{
    if (setjmp(d.err.jump))
        return false;
    constexpr int kBatch = 16;
    JSAMPROW rows[kBatch];
    while (d.cinfo.output_scanline < d.cinfo.output_height) {
        const JDIMENSION first = d.cinfo.output_scanline;
        JDIMENSION count = d.cinfo.output_height - first;
        if (count > kBatch)
            count = kBatch;
        for (JDIMENSION i = 0; i < count; ++i)
            rows[i] = bits + (first + i) * bytesPerLine;
        jpeg_read_scanlines(&d.cinfo, rows, count);
    }
    jpeg_finish_decompress(&d.cinfo);
    return true;
}

[[noreturn]] void Fail(Decoder& d)
{
    const int code = d.err.pub.msg_code;
    jpeg_destroy_decompress(&d.cinfo);
    throw Error("JPEG エラー #" + std::to_string(code));
}

// CMYK rows (Adobe files store the inks inverted) into RGB.
QImage RgbFromCmyk(const QImage& cmyk, int width, bool inverted)
{
    QImage rgb(width, cmyk.height(), QImage::Format_RGB888);
    if (rgb.isNull())
        throw std::bad_alloc();
    for (int y = 0; y < cmyk.height(); ++y) {
        const uchar* in = cmyk.constScanLine(y);
        uchar* out = rgb.scanLine(y);
        for (int x = 0; x < width; ++x, in += 4, out += 3) {
            int c = in[0], m = in[1], ye = in[2], k = in[3];
            if (!inverted) {
                c = 255 - c;
                m = 255 - m;
                ye = 255 - ye;
                k = 255 - k;
            }
            out[0] = static_cast<uchar>(c * k / 255);
            out[1] = static_cast<uchar>(m * k / 255);
            out[2] = static_cast<uchar>(ye * k / 255);
        }
    }
    return rgb;
}

} // namespace

QImage DecodeJpeg(const std::uint8_t* data, std::size_t size, bool palette)
{
    Decoder d;
    d.cinfo.err = jpeg_std_error(&d.err.pub);
    d.err.pub.error_exit = ErrorExit;
    d.err.pub.emit_message = EmitMessage;
    d.err.pub.output_message = OutputMessage;
    // Until jpeg_create_decompress has run, jpeg_destroy_decompress must find
    // no memory manager.
    d.cinfo.mem = nullptr;

    if (!Start(d, data, static_cast<unsigned long>(size), palette))
        Fail(d);

    const int width = static_cast<int>(d.cinfo.output_width);
    const int height = static_cast<int>(d.cinfo.output_height);
    QImage::Format format = QImage::Format_RGB888;
    if (d.cmyk)
        format = QImage::Format_ARGB32; // four bytes a pixel, read as C, M, Y, K
    else if (d.cinfo.quantize_colors)
        format = QImage::Format_Indexed8;
    else if (d.cinfo.out_color_space == JCS_GRAYSCALE)
        format = QImage::Format_Grayscale8;

    QImage image(width, height, format);
    if (image.isNull()) {
        jpeg_destroy_decompress(&d.cinfo);
        throw std::bad_alloc();
    }
    if (!ReadRows(d, image.bits(), static_cast<std::size_t>(image.bytesPerLine())))
        Fail(d);

    if (format == QImage::Format_Indexed8) {
        QList<QRgb> colours;
        const int count = d.cinfo.actual_number_of_colors;
        const bool grey = d.cinfo.out_color_components == 1;
        for (int i = 0; i < count; ++i) {
            const int r = d.cinfo.colormap[0][i];
            colours.push_back(grey ? qRgb(r, r, r) : qRgb(r, d.cinfo.colormap[1][i], d.cinfo.colormap[2][i]));
        }
        image.setColorTable(colours);
    }
    const bool inverted = d.cinfo.saw_Adobe_marker;
    jpeg_destroy_decompress(&d.cinfo);

    if (d.cmyk) {
        image = RgbFromCmyk(image, width, inverted);
        if (palette)
            image = image.convertToFormat(QImage::Format_Indexed8, Qt::DiffuseDither);
    }
    return image;
}

} // namespace kiv

#!/usr/bin/env python3
"""Writes the seed corpus of fuzz_raster: small uncompressed (version 3)
CUPS raster streams behind the fuzzer's printer script and job options.
Run from the source tree: python3 fuzz/make-raster-seeds.py"""
import os
import struct

HEADER_SIZE = 1796
# Offsets of the fields used, in the version-2 page header.
FIELDS = {
    'HWResolution': 276, 'PageSize': 352, 'NumCopies': 340,
    'cupsWidth': 372, 'cupsHeight': 376, 'cupsBitsPerColor': 384, 'cupsBitsPerPixel': 388,
    'cupsBytesPerLine': 392, 'cupsColorOrder': 396, 'cupsColorSpace': 400, 'cupsNumColors': 420,
}


def header(width, height, bits, space, copies=1, bpl=None, order=0):
    colours = 3 if space == 1 else 1
    bpp = bits * colours
    h = bytearray(HEADER_SIZE)
    def put(name, value, index=0):
        struct.pack_into('<I', h, FIELDS[name] + 4 * index, value & 0xFFFFFFFF)
    put('HWResolution', 203); put('HWResolution', 203, 1)
    put('PageSize', 227); put('PageSize', 567, 1)
    put('NumCopies', copies)
    put('cupsWidth', width); put('cupsHeight', height)
    put('cupsBitsPerColor', bits); put('cupsBitsPerPixel', bpp)
    put('cupsBytesPerLine', bpl if bpl is not None else (width * bpp + 7) // 8)
    put('cupsColorOrder', order); put('cupsColorSpace', space); put('cupsNumColors', colours)
    return bytes(h)


def page(width, height, bits, space, pixel, copies=1, rows=None):
    colours = 3 if space == 1 else 1
    bpl = (width * bits * colours + 7) // 8
    data = bytearray()
    for y in range(height if rows is None else rows):
        data += bytes(pixel(x, y) & 0xFF for x in range(bpl))
    return header(width, height, bits, space, copies) + bytes(data)


def stream(*pages):
    # The sync word of an uncompressed stream in little-endian byte order.
    return b'3SaR' + b''.join(pages)


def seed(name, raster, options=b'', script=b''):
    with open(os.path.join('fuzz/corpus/raster', name), 'wb') as f:
        f.write(bytes([len(script)]) + script + options + b'\0' + raster)


def box(x, y):
    return 0 if 4 <= x % 24 < 20 and 3 <= y < 12 else 255


seed('rgb-small', stream(page(16, 16, 8, 1, lambda x, y: (x * 16 + y * 7))))
seed('rgb-two-copies-otsu', stream(page(40, 12, 8, 1, box, copies=2)))
seed('rgb-bayer8', stream(page(32, 8, 8, 1, lambda x, y: x * 8)), b'Imagealgorithm=2')
seed('rgb-bayer16', stream(page(32, 8, 8, 1, lambda x, y: x * 8)), b'Imagealgorithm=3')
seed('rgb-floyd', stream(page(24, 8, 8, 1, lambda x, y: x * 10 + y)), b'Imagealgorithm=7 Brightness=20 Contrast=20')
seed('rgb-burkes-offset', stream(page(24, 8, 8, 1, lambda x, y: x * 10)), b'Imagealgorithm=8 HorizontalOffset=1')
seed('rgb-sierra', stream(page(24, 8, 8, 1, lambda x, y: y * 30)), b'Imagealgorithm=9 VerticalOffset=-1')
seed('rgb-threshold', stream(page(24, 8, 8, 1, lambda x, y: x * 10)), b'Imagealgorithm=10 Threshold=13')
seed('rgb-stucki-inverted', stream(page(24, 8, 8, 1, lambda x, y: x * 10)), b'Imagealgorithm=11 Blackandwhiteinversion=1')
seed('rgb-unsupported-algorithm', stream(page(8, 4, 8, 1, lambda x, y: 0)), b'Imagealgorithm=1')
seed('rgb-paper-saving', stream(page(24, 40, 8, 1, lambda x, y: 0 if 10 <= y < 20 else 255)),
     b'PaperSaveMode=3 PageHeaderBlank=1 EndBlank=1 MediaType=2 AfterFeed=2')
seed('gray-black-ink', stream(page(24, 8, 8, 3, lambda x, y: x * 10)))
seed('one-bit', stream(page(64, 16, 1, 3, lambda x, y: 0xF0 if y % 2 else 0x0F)), b'Openingfeed=3 Density=6')
seed('one-bit-paper-saving', stream(page(32, 20, 1, 3, lambda x, y: 0xFF if 5 < y < 9 else 0)), b'PaperSaveMode=1')
seed('two-pages-then-empty', stream(page(16, 4, 8, 1, box), page(8, 4, 1, 3, lambda x, y: 0xAA),
                                    header(0, 0, 8, 1)))
seed('truncated-page', stream(page(16, 8, 8, 1, box, rows=3)))
seed('truncated-header', stream(page(16, 4, 8, 1, box))[:900])
seed('colour-order-planar', stream(header(8, 2, 8, 1, order=2) + bytes(48)))
seed('colour-space-cmyk', stream(header(8, 2, 8, 6) + bytes(48)))
seed('bits-16', stream(header(8, 2, 16, 1) + bytes(96)))
seed('printer-errors-first', stream(page(16, 4, 8, 1, box)), script=bytes([0x24, 0x00, 0x14, 0xEE, 0xB0, 0xA0]))
seed('empty-stream', b'')
# Regression inputs from fuzzing.
# Colour order 128 and colour space 200: values outside the enums of the page
# header, once read as the enums themselves (undefined behaviour).
seed('regress-colour-order-128', stream(header(8, 2, 8, 1, order=128) + bytes(48)))
seed('regress-colour-space-200', stream(header(8, 2, 8, 200) + bytes(16)))

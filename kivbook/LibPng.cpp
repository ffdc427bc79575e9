// SPDX-License-Identifier: GPL-3.0-or-later
// libpng, loaded when export first writes a picture: no other command needs
// it, and every start would otherwise load it and the maths library.
#include "OnDemand.h"

#include <png.h>

// 0: libpng's own failure value.
KIV_ON_DEMAND(KIV_LIBPNG_SONAME, 0, int, png_image_write_to_memory,
    (png_imagep image, void* memory, png_alloc_size_t* memoryBytes, int convertTo8Bit, const void* buffer,
        png_int_32 rowStride, const void* colormap),
    (image, memory, memoryBytes, convertTo8Bit, buffer, rowStride, colormap))

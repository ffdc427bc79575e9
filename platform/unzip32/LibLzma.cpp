// SPDX-License-Identifier: GPL-3.0-or-later
// liblzma, loaded the first time an LZMA member is read (MemberData.cpp):
// nearly every book holds deflated members only. These stand in for the
// liblzma functions unzip32 calls.
#include "OnDemand.h"

#include <lzma.h>

#ifndef KIV_LIBLZMA_SONAME
#error "KIV_LIBLZMA_SONAME names the liblzma to load (set by the build)"
#endif

#define KIV_LIBLZMA_FORWARD(name, parameters, arguments) \
    KIV_ON_DEMAND(KIV_LIBLZMA_SONAME, LZMA_PROG_ERROR, lzma_ret, name, parameters, arguments)

extern "C" {

KIV_LIBLZMA_FORWARD(lzma_properties_decode,
    (lzma_filter * a, const lzma_allocator* b, const uint8_t* c, size_t d) noexcept, (a, b, c, d))
KIV_LIBLZMA_FORWARD(lzma_raw_decoder, (lzma_stream * a, const lzma_filter* b) noexcept, (a, b))
KIV_LIBLZMA_FORWARD(lzma_code, (lzma_stream * a, lzma_action b) noexcept, (a, b))
KIV_ON_DEMAND(KIV_LIBLZMA_SONAME, , void, lzma_end, (lzma_stream * a) noexcept, (a))

} // extern "C"

// SPDX-License-Identifier: GPL-3.0-or-later
// libzip, loaded the first time one of its functions is called: most runs
// of the archive libraries never need it (plain members are read and written
// with zlib alone), and it brings a crypto library with it. These stand in
// for the libzip functions the two libraries call.
#include "OnDemand.h"

#include <zip.h>

#ifndef KIV_LIBZIP_SONAME
#error "KIV_LIBZIP_SONAME names the libzip to load (set by the build)"
#endif

#define KIV_LIBZIP_FORWARD(result, name, parameters, arguments) \
    KIV_ON_DEMAND(KIV_LIBZIP_SONAME, ::kiv::ondemand::Failure<result>(), result, name, parameters, arguments)

extern "C" {

KIV_LIBZIP_FORWARD(int, zip_close, (zip_t * a), (a))
// Without libzip no method or encryption of its own is supported.
KIV_ON_DEMAND(KIV_LIBZIP_SONAME, 0, int, zip_compression_method_supported, (zip_int32_t a, int b), (a, b))
KIV_LIBZIP_FORWARD(zip_int64_t, zip_dir_add, (zip_t * a, const char* b, zip_flags_t c), (a, b, c))
KIV_LIBZIP_FORWARD(void, zip_discard, (zip_t * a), (a))
KIV_ON_DEMAND(KIV_LIBZIP_SONAME, 0, int, zip_encryption_method_supported, (zip_uint16_t a, int b), (a, b))
KIV_LIBZIP_FORWARD(int, zip_error_code_zip, (const zip_error_t* a), (a))
KIV_LIBZIP_FORWARD(void, zip_error_fini, (zip_error_t * a), (a))
KIV_LIBZIP_FORWARD(void, zip_error_init, (zip_error_t * a), (a))
KIV_LIBZIP_FORWARD(int, zip_fclose, (zip_file_t * a), (a))
KIV_LIBZIP_FORWARD(zip_int64_t, zip_file_add, (zip_t * a, const char* b, zip_source_t* c, zip_flags_t d), (a, b, c, d))
KIV_LIBZIP_FORWARD(zip_error_t*, zip_file_get_error, (zip_file_t * a), (a))
KIV_LIBZIP_FORWARD(int, zip_file_rename, (zip_t * a, zip_uint64_t b, const char* c, zip_flags_t d), (a, b, c, d))
KIV_LIBZIP_FORWARD(int, zip_file_replace, (zip_t * a, zip_uint64_t b, zip_source_t* c, zip_flags_t d), (a, b, c, d))
KIV_LIBZIP_FORWARD(
    int, zip_file_set_encryption, (zip_t * a, zip_uint64_t b, zip_uint16_t c, const char* d), (a, b, c, d))
KIV_LIBZIP_FORWARD(int, zip_file_set_external_attributes,
    (zip_t * a, zip_uint64_t b, zip_flags_t c, zip_uint8_t d, zip_uint32_t e), (a, b, c, d, e))
KIV_LIBZIP_FORWARD(int, zip_file_set_mtime, (zip_t * a, zip_uint64_t b, time_t c, zip_flags_t d), (a, b, c, d))
KIV_LIBZIP_FORWARD(zip_file_t*, zip_fopen_index, (zip_t * a, zip_uint64_t b, zip_flags_t c), (a, b, c))
KIV_LIBZIP_FORWARD(
    zip_file_t*, zip_fopen_index_encrypted, (zip_t * a, zip_uint64_t b, zip_flags_t c, const char* d), (a, b, c, d))
KIV_LIBZIP_FORWARD(zip_int64_t, zip_fread, (zip_file_t * a, void* b, zip_uint64_t c), (a, b, c))
KIV_LIBZIP_FORWARD(zip_error_t*, zip_get_error, (zip_t * a), (a))
KIV_LIBZIP_FORWARD(const char*, zip_get_name, (zip_t * a, zip_uint64_t b, zip_flags_t c), (a, b, c))
KIV_LIBZIP_FORWARD(zip_int64_t, zip_get_num_entries, (zip_t * a, zip_flags_t b), (a, b))
KIV_LIBZIP_FORWARD(zip_int64_t, zip_name_locate, (zip_t * a, const char* b, zip_flags_t c), (a, b, c))
KIV_LIBZIP_FORWARD(zip_t*, zip_open, (const char* a, int b, int* c), (a, b, c))
KIV_LIBZIP_FORWARD(zip_t*, zip_open_from_source, (zip_source_t * a, int b, zip_error_t* c), (a, b, c))
KIV_LIBZIP_FORWARD(int, zip_set_file_compression, (zip_t * a, zip_uint64_t b, zip_int32_t c, zip_uint32_t d), (a, b, c, d))
KIV_LIBZIP_FORWARD(
    zip_source_t*, zip_source_buffer_create, (const void* a, zip_uint64_t b, int c, zip_error_t* d), (a, b, c, d))
KIV_LIBZIP_FORWARD(int, zip_source_close, (zip_source_t * a), (a))
KIV_LIBZIP_FORWARD(zip_source_t*, zip_source_file, (zip_t * a, const char* b, zip_uint64_t c, zip_int64_t d), (a, b, c, d))
KIV_LIBZIP_FORWARD(void, zip_source_free, (zip_source_t * a), (a))
KIV_LIBZIP_FORWARD(void, zip_source_keep, (zip_source_t * a), (a))
KIV_LIBZIP_FORWARD(int, zip_source_open, (zip_source_t * a), (a))
KIV_LIBZIP_FORWARD(zip_int64_t, zip_source_read, (zip_source_t * a, void* b, zip_uint64_t c), (a, b, c))
KIV_LIBZIP_FORWARD(int, zip_source_stat, (zip_source_t * a, zip_stat_t* b), (a, b))
KIV_LIBZIP_FORWARD(int, zip_stat, (zip_t * a, const char* b, zip_flags_t c, zip_stat_t* d), (a, b, c, d))
KIV_LIBZIP_FORWARD(int, zip_stat_index, (zip_t * a, zip_uint64_t b, zip_flags_t c, zip_stat_t* d), (a, b, c, d))
KIV_LIBZIP_FORWARD(const char*, zip_strerror, (zip_t * a), (a))

} // extern "C"

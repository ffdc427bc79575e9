// libzip, loaded the first time one of its functions is called.
//
// Most runs of the archive libraries never need libzip: plain members are
// read and copied with zlib alone. Linking it would load libzip and what it
// pulls in (a crypto library among them) at every start, which costs more
// than reading one day. These definitions stand in for the libzip functions
// the two libraries call; the first call loads the real library and each
// definition forwards to its counterpart there. The link keeps them local
// to the library that holds them, so a program that links libzip itself
// still meets only the real functions.
#include <zip.h>

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

#ifndef KIV_LIBZIP_SONAME
#error "KIV_LIBZIP_SONAME names the libzip to load (set by the build)"
#endif

namespace {

void* Library()
{
    static void* const library = [] {
        void* handle = dlopen(KIV_LIBZIP_SONAME, RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            // A missing dependency of the installation: nothing can be
            // read or written without it.
            std::fprintf(stderr, "%s\n", dlerror());
            std::abort();
        }
        return handle;
    }();
    return library;
}

// The real function of that name and type.
template <typename Function> Function* Real(const char* name)
{
    void* address = dlsym(Library(), name);
    if (!address) {
        std::fprintf(stderr, "%s\n", dlerror());
        std::abort();
    }
    return reinterpret_cast<Function*>(address);
}

} // namespace

#define KIV_LIBZIP_FORWARD(result, name, parameters, arguments)                                          \
    result name parameters                                                                               \
    {                                                                                                    \
        static decltype(::name)* const real = Real<decltype(::name)>(#name);                             \
        return real arguments;                                                                           \
    }

extern "C" {

KIV_LIBZIP_FORWARD(int, zip_close, (zip_t * a), (a))
KIV_LIBZIP_FORWARD(int, zip_compression_method_supported, (zip_int32_t a, int b), (a, b))
KIV_LIBZIP_FORWARD(zip_int64_t, zip_dir_add, (zip_t * a, const char* b, zip_flags_t c), (a, b, c))
KIV_LIBZIP_FORWARD(void, zip_discard, (zip_t * a), (a))
KIV_LIBZIP_FORWARD(int, zip_encryption_method_supported, (zip_uint16_t a, int b), (a, b))
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

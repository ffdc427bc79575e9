// SPDX-License-Identifier: GPL-3.0-or-later
// The writer's reading of the old book: any bytes as the book that a day
// is put into, then deleted from. A run may refuse the book, but a book it
// reports written must open with libzip and give back the day whenever the
// input opened with libzip (the members it copies are as sound as they
// were), and a refused run must leave the input as it was. libzip weighs
// every end record it finds, one hidden in a member's bytes too, and takes
// a directory whose local headers all agree with it over one where a copied
// member's do not: when it reads the written book as the very directory it
// read the input as, that hidden one won again and the day is not asked for.
#include "FuzzFiles.h"
#include "zip32.h"

#include <zip.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

int Quiet(const char* text, unsigned long)
{
    return static_cast<int>(std::strlen(text));
}

std::string Folder()
{
    static std::string folder;
    if (folder.empty()) {
        const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        char path[256];
        std::snprintf(path, sizeof(path), "%s/zip-add-fuzz-%d", dir, static_cast<int>(getpid()));
        folder = path;
        mkdir(folder.c_str(), 0700);
        const std::string day = folder + "/20010315.DAY";
        const std::string text = "TPF0 a day";
        WriteFileBytes(day.c_str(), std::vector<unsigned char>(text.begin(), text.end()));
        std::atexit([] {
            const std::string f = Folder();
            for (const char* name : {"/20010315.DAY", "/book.KIV", "/book.KIV~"})
                unlink((f + name).c_str());
            rmdir(f.c_str());
        });
    }
    return folder;
}

int Run(const std::string& book, bool del)
{
    const ZipCallbacks callbacks{&Quiet, nullptr, nullptr, nullptr};
    ZpInit(&callbacks);
    ZipOptions options{};
    options.fLevel = '6';
    options.fDeleteEntries = del ? 1 : 0;
    options.fNoPreviousBook = 1;
    const std::string root = Folder();
    options.szRootDir = root.c_str();
    ZpSetOptions(&options);
    char name[] = "20010315.DAY";
    char* names[] = {name};
    return ZpArchive(1, book.c_str(), names);
}

// The member names libzip sees in an open archive, in its order.
std::vector<std::string> Names(zip_t* archive)
{
    std::vector<std::string> names;
    const zip_int64_t count = zip_get_num_entries(archive, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        const char* name = zip_get_name(archive, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW);
        names.emplace_back(name ? name : "");
    }
    return names;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::string book = Folder() + "/book.KIV";
    const std::vector<unsigned char> input(data, data + size);
    if (!WriteFileBytes(book.c_str(), input))
        return 0;

    int error = 0;
    zip_t* before = zip_open(book.c_str(), ZIP_RDONLY, &error);
    std::vector<std::string> namesBefore;
    if (before) {
        namesBefore = Names(before);
        zip_discard(before);
    }
    if (Run(book, false) != ZIP32_OK) {
        if (ReadFileBytes(book.c_str()) != input)
            std::abort(); // a refused run changed the book
        return 0;
    }
    zip_t* archive = zip_open(book.c_str(), ZIP_RDONLY, &error);
    if (!archive && !before) {
        Run(book, true);
        return 0; // the input was no sound book for libzip either
    }
    if (!archive)
        std::abort(); // reported written, but no book
    if (Names(archive) == namesBefore) {
        zip_discard(archive);
        Run(book, true);
        return 0; // libzip read the input's hidden directory again
    }
    char day[16] = "";
    zip_file_t* file = zip_fopen(archive, "20010315.DAY", 0);
    const zip_int64_t read = file ? zip_fread(file, day, sizeof day) : -1;
    if (file)
        zip_fclose(file);
    zip_discard(archive);
    if (read != 10 || std::memcmp(day, "TPF0 a day", 10) != 0)
        std::abort(); // the day put is not there as it was given
    Run(book, true);
    return 0;
}

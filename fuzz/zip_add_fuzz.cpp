// SPDX-License-Identifier: GPL-3.0-or-later
// The writer's reading of the old book: any bytes as the book that a day
// is put into, then deleted from. A run may refuse the book, but a book it
// reports written must open with libzip and give back the day whenever the
// input opened with libzip (the members it copies are as sound as they
// were), and a refused run must leave the input as it was.
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
    if (before)
        zip_discard(before);
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

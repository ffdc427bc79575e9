// SPDX-License-Identifier: GPL-3.0-or-later
// The exports into one file: our lossless JSON, a calendar, a PDF.
#include "SingleFileExport.h"

#include "BookSession.h"
#include "Calendar.h"
#include "ExportDocuments.h"
#include "KivPdf.h"
#include "Language.h"
#include "TextForms.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <filesystem>

namespace kiv::kivbook {
namespace {

namespace fs = std::filesystem;

// A file written a piece at a time.
class OutputFile {
public:
    explicit OutputFile(std::string path)
        : path_(std::move(path))
        , file_(std::fopen(path_.c_str(), "wb"))
    {
        if (!file_)
            throw Failure(Fill(_("cannot write %s: %s"), { path_, std::strerror(errno) }));
    }
    ~OutputFile()
    {
        if (file_)
            std::fclose(file_);
    }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    void Write(const std::string& text)
    {
        if (std::fwrite(text.data(), 1, text.size(), file_) != text.size())
            throw Failure(Fill(_("cannot write %s: %s"), { path_, std::strerror(errno) }));
    }
    void Close()
    {
        std::FILE* file = file_;
        file_ = nullptr;
        if (std::fclose(file) != 0)
            throw Failure(Fill(_("cannot write %s: %s"), { path_, std::strerror(errno) }));
    }

private:
    std::string path_;
    std::FILE* file_;
};

// Every field of every dated day, pictures in base64: import reads it back
// byte for byte.
void WriteJson(const std::vector<DatedMember>& days, const ReadHeldDay& read, const std::string& path)
{
    OutputFile file(path);
    file.Write(std::string("{\"format\": \"") + kDayJsonFormat + "\", \"version\": 1, \"days\": [");
    bool first = true;
    for (const auto& [member, date] : days) {
        TDayBook record;
        if (!read(member, record))
            continue;
        file.Write((first ? "\n" : ",\n") + DayJsonObject(date, record));
        first = false;
    }
    file.Write("\n]}\n");
    file.Close();
}

// A stable, short tag of the book for the events' UIDs (FNV-1a of its name).
std::string BookTag(const std::string& bookName)
{
    std::uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : bookName)
        hash = (hash ^ c) * 1099511628211ull;
    char text[24];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

// An event per filled schedule row, the memo as its description.
void WriteCalendar(const std::vector<DatedMember>& days, const ReadHeldDay& read, const std::string& path,
                   const std::string& bookName)
{
    int first = 9999, last = 1;
    for (const auto& day : days) {
        first = std::min(first, day.second.year);
        last = std::max(last, day.second.year);
    }
    CalendarWriter calendar(BookTag(bookName), std::min(first, last), last);
    for (const auto& [member, date] : days) {
        TDayBook record;
        if (!read(member, record))
            continue;
        const std::string memo = ShownText(record.ScheduleMemo);
        for (int row = 1; row <= TDayBook::kScheduleRows; ++row)
            if (!record.Schedule(row).empty())
                calendar.Event(date, row + 7, ShownText(record.Schedule(row)), memo);
    }
    WriteFile(path, calendar.Finish());
}

// The PDF module's three calls, loaded when first needed: beside an
// installed kivbook, else where the build made it.
struct PdfModule {
    KivPdfBeginFn begin = nullptr;
    KivPdfAddDayFn addDay = nullptr;
    KivPdfEndFn end = nullptr;
};

PdfModule LoadPdfModule()
{
    std::vector<std::string> candidates;
#ifdef KIV_PDF_MODULE
    std::error_code error;
    const fs::path executable = fs::read_symlink("/proc/self/exe", error);
    if (!error)
        candidates.push_back((executable.parent_path() / KIV_PDF_MODULE).string());
#endif
#ifdef KIV_PDF_BUILD_MODULE
    candidates.push_back(KIV_PDF_BUILD_MODULE);
#endif
    std::string why = _("this kivbook was built without it");
    for (const std::string& candidate : candidates) {
        // Never closed: Qt does not unload.
        void* handle = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            why = ::dlerror();
            continue;
        }
        PdfModule module;
        module.begin = reinterpret_cast<KivPdfBeginFn>(::dlsym(handle, "KivPdfBegin"));
        module.addDay = reinterpret_cast<KivPdfAddDayFn>(::dlsym(handle, "KivPdfAddDay"));
        module.end = reinterpret_cast<KivPdfEndFn>(::dlsym(handle, "KivPdfEnd"));
        if (module.begin && module.addDay && module.end)
            return module;
    }
    throw Failure(Fill(_("PDF export is not available: %s"), { why }));
}

// The days one after the other on A4 pages, pictures included.
void WritePdf(const std::vector<DatedMember>& days, const ReadHeldDay& read, const std::string& path,
              const std::string& bookName)
{
    const PdfModule module = LoadPdfModule();
    char error[512] = "";
    KivPdf* pdf = module.begin(path.c_str(), bookName.c_str(), error, sizeof error);
    if (!pdf)
        throw Failure(error);
    for (const auto& [member, date] : days) {
        TDayBook record;
        if (!read(member, record))
            continue;
        const std::string title = DateListLine(date);
        std::string texts[15];
        for (int row = 1; row <= TDayBook::kScheduleRows; ++row)
            texts[row - 1] = ShownText(record.Schedule(row));
        texts[11] = ShownText(record.ScheduleMemo);
        texts[12] = ShownText(record.Weather);
        texts[13] = ShownText(record.Temperature);
        texts[14] = ShownText(record.Diary);
        KivPdfDay page {};
        page.title = title.c_str();
        for (int i = 0; i < 15; ++i)
            page.texts[i] = texts[i].c_str();
        if (record.PhotoSize() > 0 && (record.PhotoKind() == TDayBook::kBmp || record.PhotoKind() == TDayBook::kJpeg)) {
            page.picture = record.PhotoData().data();
            page.pictureSize = record.PhotoData().size();
        }
        module.addDay(pdf, &page);
    }
    if (module.end(pdf, error, sizeof error) != 0)
        throw Failure(Fill(_("cannot write %s: %s"), { path, error }));
}

} // namespace

std::optional<SingleFile> SingleFileNamed(std::string_view name)
{
    if (name == "json")
        return SingleFile::Json;
    if (name == "ics")
        return SingleFile::Ics;
    if (name == "pdf")
        return SingleFile::Pdf;
    return std::nullopt;
}

const char* SingleFileExtension(SingleFile format)
{
    switch (format) {
    case SingleFile::Json:
        return ".json";
    case SingleFile::Ics:
        return ".ics";
    case SingleFile::Pdf:
        return ".pdf";
    }
    return "";
}

void WriteSingleFile(SingleFile format, const std::vector<DatedMember>& days, const ReadHeldDay& read,
                     const std::string& path, const std::string& bookName)
{
    switch (format) {
    case SingleFile::Json:
        return WriteJson(days, read, path);
    case SingleFile::Ics:
        return WriteCalendar(days, read, path, bookName);
    case SingleFile::Pdf:
        return WritePdf(days, read, path, bookName);
    }
}

} // namespace kiv::kivbook

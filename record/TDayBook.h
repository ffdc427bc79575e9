// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "MemoryStream.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kiv {

// The record of one day: eleven schedule rows (8:00 .. 18:00), the schedule
// memo, weather, temperature and diary texts, and one picture kept as the
// bytes of its BMP or JPEG file. Texts are code page 932 bytes with CR LF
// line breaks, stored and compared as bytes.
//
// Write and Read use the day file format: "TPF0", the class name, the empty
// component name, the non-empty texts in a fixed order, then "img" with the
// picture, then two 0x00 bytes.
class TDayBook {
public:
    enum PhotoKinds : std::int32_t { kNoPicture = 0, kBmp = 1, kJpeg = 2 };
    static constexpr int kScheduleRows = 11;

    TDayBook() { Clear(); }

    // Empties every text and the picture.
    void Clear();

    const std::string& Schedule(int row) const; // row 1 .. 11
    void SetSchedule(int row, std::string text);
    std::string ScheduleMemo, Weather, Temperature, Diary;

    // The picture payload: PhotoData holds exactly PhotoSize bytes and is
    // present exactly when PhotoSize > 0.
    const std::vector<std::uint8_t>& PhotoData() const { return photoData_; }
    std::int32_t PhotoKind() const { return photoKind_; }
    std::int32_t PhotoSize() const { return photoSize_; }
    // Replaces the picture; a size of 0 or less leaves none.
    void SetPhotoData(const void* data, std::int32_t size, std::int32_t kind);

    // The picture read from a "Photo.Data" record: the bytes of a BMP file
    // (starting with "BM"), empty normally.
    const std::vector<std::uint8_t>& Photo() const { return photoBitmap_; }
    // Assigning a non-empty bitmap stores it as a BMP payload; an empty one
    // changes nothing.
    void SetPhoto(const std::vector<std::uint8_t>& bmpFile);
    // Moves a "Photo.Data" picture into the payload as a BMP (kind 1).
    void ConvertPhotoBitmap();

    // Appends the day file bytes of the record at the stream's position.
    void Write(MemoryStream& stream) const;
    // Reads one day file from the stream's position into this record; only
    // what the file holds is set. Fails with kiv::Error carrying the read
    // error's text; the properties read before the error stay in the record
    // (a picture only when all of its bytes were there). Never allocates
    // more than the rest of the stream holds.
    void Read(MemoryStream& stream);

private:
    friend class DayFileReader;

    // The fifteen texts in the order of the day file: Schedule1 .. 11,
    // ScheduleMemo, Weather, Temperature, Diary.
    std::string& Text(std::size_t index);
    const std::string& Text(std::size_t index) const;

    std::string schedule_[kScheduleRows];
    std::vector<std::uint8_t> photoData_;
    std::int32_t photoKind_ = 0;
    std::int32_t photoSize_ = 0;
    std::vector<std::uint8_t> photoBitmap_;
};

} // namespace kiv

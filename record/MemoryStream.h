// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Files.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kiv {

// A growable block of bytes with a position, as the day record, the archive
// layer and the picture window use it. Reading never goes past the end.
// The bytes are a day, maybe one decrypted: they are wiped before their
// memory is given back.
class MemoryStream {
public:
    MemoryStream() = default;
    explicit MemoryStream(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
    ~MemoryStream();
    MemoryStream(const MemoryStream&) = default;
    MemoryStream(MemoryStream&&) = default;
    MemoryStream& operator=(const MemoryStream& other);
    MemoryStream& operator=(MemoryStream&& other) noexcept;

    // Copies up to size bytes from the position; returns how many were copied.
    std::size_t Read(void* buffer, std::size_t size);
    // Writes at the position, growing the stream as needed.
    void Write(const void* buffer, std::size_t size);

    std::size_t Position() const { return position_; }
    void SetPosition(std::size_t position) { position_ = position; }
    std::size_t Size() const { return bytes_.size(); }
    std::size_t Remaining() const { return position_ < bytes_.size() ? bytes_.size() - position_ : 0; }
    void Clear();

    const std::vector<std::uint8_t>& Bytes() const { return bytes_; }
    const std::uint8_t* Data() const { return bytes_.data(); }

    // Saves the whole stream as a file, atomically (see WriteFileAtomically).
    void SaveToFile(const std::string& path, FileAccess access = FileAccess::Shared) const;
    // Replaces the content with a whole file; the position becomes 0.
    void LoadFromFile(const std::string& path);

private:
    std::vector<std::uint8_t> bytes_;
    std::size_t position_ = 0;
};

} // namespace kiv

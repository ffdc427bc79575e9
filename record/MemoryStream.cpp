// SPDX-License-Identifier: GPL-3.0-or-later
#include "MemoryStream.h"

#include "Files.h"

#include <algorithm>
#include <cstring>
#include <string.h>

namespace kiv {
namespace {

void Wipe(std::vector<std::uint8_t>& bytes)
{
    if (!bytes.empty())
        ::explicit_bzero(bytes.data(), bytes.size());
}

} // namespace

MemoryStream::~MemoryStream()
{
    Wipe(bytes_);
}

MemoryStream& MemoryStream::operator=(const MemoryStream& other)
{
    if (this != &other) {
        Wipe(bytes_);
        bytes_ = other.bytes_;
        position_ = other.position_;
    }
    return *this;
}

MemoryStream& MemoryStream::operator=(MemoryStream&& other) noexcept
{
    if (this != &other) {
        Wipe(bytes_);
        bytes_ = std::move(other.bytes_);
        position_ = other.position_;
    }
    return *this;
}

std::size_t MemoryStream::Read(void* buffer, std::size_t size)
{
    std::size_t n = std::min(size, Remaining());
    if (n > 0)
        std::memcpy(buffer, bytes_.data() + position_, n);
    position_ += n;
    return n;
}

void MemoryStream::Write(const void* buffer, std::size_t size)
{
    if (size == 0)
        return;
    if (position_ + size > bytes_.capacity()) {
        // Grown into new memory: the old is wiped before it goes.
        std::vector<std::uint8_t> grown;
        grown.reserve(std::max(position_ + size, bytes_.capacity() * 2));
        grown.assign(bytes_.begin(), bytes_.end());
        Wipe(bytes_);
        bytes_.swap(grown);
    }
    if (position_ + size > bytes_.size())
        bytes_.resize(position_ + size);
    std::memcpy(bytes_.data() + position_, buffer, size);
    position_ += size;
}

void MemoryStream::Clear()
{
    Wipe(bytes_);
    bytes_.clear();
    position_ = 0;
}

void MemoryStream::SaveToFile(const std::string& path, FileAccess access) const
{
    WriteFileAtomically(path, bytes_.data(), bytes_.size(), access);
}

void MemoryStream::LoadFromFile(const std::string& path)
{
    Wipe(bytes_);
    bytes_ = ReadWholeFile(path);
    position_ = 0;
}

} // namespace kiv

#include "MemoryStream.h"

#include "Files.h"

#include <algorithm>
#include <cstring>

namespace kiv {

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
    if (position_ + size > bytes_.size())
        bytes_.resize(position_ + size);
    std::memcpy(bytes_.data() + position_, buffer, size);
    position_ += size;
}

void MemoryStream::Clear()
{
    bytes_.clear();
    position_ = 0;
}

void MemoryStream::SaveToFile(const std::string& path) const
{
    WriteFileAtomically(path, bytes_.data(), bytes_.size());
}

void MemoryStream::LoadFromFile(const std::string& path)
{
    bytes_ = ReadWholeFile(path);
    position_ = 0;
}

} // namespace kiv

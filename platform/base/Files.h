#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kiv {

// Writes a whole file: the bytes go to a temporary file in the same folder,
// which is then renamed over the target, so the target is either the old
// file or the complete new one. Fails with "ファイル %s を作成できません".
void WriteFileAtomically(const std::string& path, const void* data, std::size_t size);

// Reads a whole file. Fails with "ファイル %s は開けません".
std::vector<std::uint8_t> ReadWholeFile(const std::string& path);

} // namespace kiv

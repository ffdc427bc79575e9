// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// File system helpers for the working directory and the paths the user
// picks. Paths are UTF-8 texts; the separator is the platform's.
namespace kiv::dayfiles {

#ifdef _WIN32
inline constexpr char kSeparator = '\\';
inline constexpr const char* kSeparators = "\\/:"; // the last of these ends the folder part
#else
inline constexpr char kSeparator = '/';
inline constexpr const char* kSeparators = "/";
#endif

// directory + separator + name; an empty directory gives a file in the root.
std::string Join(const std::string& directory, const std::string& name);
// The text after the last separator.
std::string FileName(const std::string& path);
// Everything up to and including the last separator; empty without one.
std::string FolderPart(const std::string& path);
// From the last full stop on, when it comes after the last separator.
std::string Extension(const std::string& path);

// Names of the entries of the directory matching "*.DAY", of any kind.
std::vector<std::string> List(const std::string& directory);
// Existence of a file (not a directory).
bool IsFile(const std::string& path);
// Existence of anything by that name.
bool Exists(const std::string& path);
// Size of a file in bytes; -1 when it cannot be read.
std::int64_t Size(const std::string& path);
// Deletes a file; a missing file or a refusal is ignored.
void Remove(const std::string& path);
// Renames a file; false when it could not.
bool Rename(const std::string& from, const std::string& to);
enum class NewName { Taken, Renamed, Failed };
// Renames a file to a name nothing has yet, in one step: a file (or link)
// that has the name already is never replaced.
NewName RenameToNewName(const std::string& from, const std::string& to);

} // namespace kiv::dayfiles

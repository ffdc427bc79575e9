// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>

// The small part of the system registry that the program reads: one text
// value under a key of the classes root.
//
// On Windows this is HKEY_CLASSES_ROOT. Elsewhere the "registry" is the INI
// file $XDG_CONFIG_HOME/kiv/registry.ini (default ~/.config/kiv/registry.ini):
// a group [KEY] stands for the key, its entries for the key's values.
namespace kiv::registry {

// The value as read from an opened key: nullopt when the key does not open;
// an empty text when the key opens but the value is missing (or is no text).
std::optional<std::string> ReadClassesRootText(const std::string& key, const std::string& valueName);

// The INI file that stands in for the registry on systems without one.
std::string IniFilePath();

// Reads a value from an INI file with the same rules (used by the above;
// exposed so that the rules can be tested on any file).
std::optional<std::string> ReadIniText(
    const std::string& iniPath, const std::string& group, const std::string& valueName);

// The program's own settings: values of the key KIV_SETTINGS, read as
// ReadClassesRootText reads (registry.ini's group [KIV_SETTINGS] elsewhere,
// apart from [KIV_FILE], whose presence means something of its own);
// written on Windows to the user's own classes. ReadSetting gives nullopt
// for a setting never written (or written empty).
std::optional<std::string> ReadSetting(const std::string& name);
// False when the setting could not be stored.
bool WriteSetting(const std::string& name, const std::string& value);

// The setting KeepPreviousBook: whether a rewrite keeps the book it replaces
// beside the new one (BOOK~); true unless it says 0, no, off or false.
bool KeepPreviousBook();

// The setting BookLockWait: how many seconds a writer waits for another
// writer of the same book (5 when unset or not a number from 0 to 600).
int BookLockWait();

// Sets one value of an INI file, keeping every other line as it was; the
// group and the file (and its folder) are created when missing. The file is
// replaced as a whole, never left half written. False on failure.
bool WriteIniText(
    const std::string& iniPath, const std::string& group, const std::string& valueName, const std::string& value);

} // namespace kiv::registry

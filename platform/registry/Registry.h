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

} // namespace kiv::registry

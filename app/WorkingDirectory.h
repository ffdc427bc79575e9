#pragma once

#include <string>

namespace kiv {

// The folder that holds the day files: the registry value "InstDir" of the
// key "KIV_FILE", used unchanged (an empty value gives an empty text).
// Without the key: on Windows the current directory; elsewhere a folder of
// the user's own, so that emptying it never touches the files of whatever
// folder the program was started from.
std::string FindWorkingDirectory();

// $XDG_STATE_HOME/kiv/work (default ~/.local/state/kiv/work), created when
// missing.
std::string FallbackWorkingDirectory();

} // namespace kiv

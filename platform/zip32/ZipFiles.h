// SPDX-License-Identifier: GPL-3.0-or-later
// Finding the files an add run names: plain names and patterns relative to
// the root directory, walked recursively on request.
#pragma once

#include "ZipRun.h"

#include <sys/stat.h>

#include <string>
#include <vector>

namespace kivzip {

struct SourceFile {
    std::string path;        // where the file is
    std::string name;        // member name, '/'-separated, directories end with '/'
    bool directory = false;
    struct stat st {};
};

// Collects the files for names (in command order, directory listings sorted
// by name) and checks that each file can be opened. The file identified by
// skip (the book itself, when it exists) is left out. Returns ZIP32_OK or the
// run's result code; warnings and errors go to out.
int CollectFiles(const RunSettings& settings, const std::vector<std::string>& names, const struct stat* skip,
                 std::vector<SourceFile>& files, const Reporter& out);

// A name as it is stored: no leading '/', no "." or ".." components.
std::string CleanMemberName(const std::string& name);

// Parses the date of -t / -tt: mmddyyyy or yyyy-mm-dd, local midnight.
bool ParseZipDate(const std::string& text, time_t& when);

} // namespace kivzip

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ArchiveHost.h"

namespace kiv {

// The method that encrypted days are saved with: a setting of the user's,
// kept with the registry layer's settings (registry.ini beside the working
// directory's entry), under the method's name.

// The stored method; traditional when none is stored or the name is not
// one of the methods'.
archive::EncryptionMethod LoadEncryptionMethod();
// Stores the method; false when it cannot be kept.
bool StoreEncryptionMethod(archive::EncryptionMethod method);

} // namespace kiv

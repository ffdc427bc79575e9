// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <vector>

namespace kiv {

class Workspace;

// The copies of a book that a sync tool keeps beside it when two computers
// wrote it: "NAME.sync-conflict-YYYYMMDD-HHMMSS-DEVICE.KIV",
// "NAME (conflicted copy ...).KIV" and "NAME (... 's conflicted copy ...).KIV"
// (the book's own extension, in any case). Full paths, sorted.
std::vector<std::string> ConflictCopiesOf(const std::string& book);

// For each conflict copy of the workspace's book not marked to be passed
// over, asks whether to merge it into the book; after a merge, offers to
// delete the copy. A copy whose question was answered with the check box
// ticked is not asked about again (the setting ConflictCopiesNotAsked).
void OfferConflictCopies(Workspace& workspace);

} // namespace kiv

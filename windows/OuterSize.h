// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QSize>

class QWidget;

namespace kiv {

// Keeps a top-level window at an outer size, its frame included. The frame
// is known only once the window manager has framed the window, which may
// be well after the window appeared; the size is fitted whenever the frame
// becomes known or changes, and left alone when the user resizes the window.
// The keeper belongs to the window.
void KeepOuterSize(QWidget* window, QSize outer);

} // namespace kiv

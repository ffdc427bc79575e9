// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDate>
#include <QString>

namespace kiv {

// A line of the date list or of the search results read as a date: year,
// month and day separated by "/". Fails with kiv::Error
// "'%s' は日付ではありません" naming the text.
QDate ListDate(const QString& text);

} // namespace kiv

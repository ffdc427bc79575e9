// SPDX-License-Identifier: GPL-3.0-or-later
#include "ListDate.h"

#include "Error.h"

#include <QRegularExpression>

namespace kiv {

QDate ListDate(const QString& text)
{
    static const QRegularExpression pattern(QStringLiteral("^\\s*(\\d{4})/(\\d{1,2})/(\\d{1,2})\\s*$"));
    const QRegularExpressionMatch match = pattern.match(text);
    QDate date;
    if (match.hasMatch())
        date = QDate(match.captured(1).toInt(), match.captured(2).toInt(), match.captured(3).toInt());
    if (!date.isValid())
        throw Error(Format("'%s' は日付ではありません", text.toStdString()));
    return date;
}

} // namespace kiv

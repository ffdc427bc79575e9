// SPDX-License-Identifier: GPL-3.0-or-later
#include "DateListModel.h"

namespace kiv {

void DateListModel::SetText(QString text)
{
    beginResetModel();
    text_ = std::move(text);
    ends_.clear();
    for (qsizetype from = 0; from < text_.size();) {
        qsizetype end = text_.indexOf(QLatin1Char('\n'), from);
        if (end < 0)
            end = text_.size();
        ends_.push_back(end);
        from = end + 1;
    }
    endResetModel();
}

QStringView DateListModel::Line(int row) const
{
    const qsizetype start = row == 0 ? 0 : ends_[row - 1] + 1;
    return QStringView(text_).sliced(start, ends_[row] - start);
}

int DateListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(ends_.size());
}

QVariant DateListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount() || (role != Qt::DisplayRole && role != Qt::EditRole))
        return {};
    return Line(index.row()).toString();
}

} // namespace kiv

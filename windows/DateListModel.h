// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAbstractListModel>
#include <QList>
#include <QString>
#include <QStringView>

namespace kiv {

// The calendar's list of the book's dates: one text, whose lines are made
// into strings only when they are shown or asked for. A book of a hundred
// years has 36,525 dates; a string each took longer to make than the rest
// of the program's start.
class DateListModel : public QAbstractListModel {
public:
    using QAbstractListModel::QAbstractListModel;

    // Lines end with \n; the last may end the text without one.
    void SetText(QString text);
    QStringView Line(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    QString text_;
    QList<qsizetype> ends_; // where each line ends (its \n or the text's end)
};

} // namespace kiv

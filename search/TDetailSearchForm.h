// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "KeywordTest.h"

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;

namespace kiv {

class SearchHost;

// The wider search: keywords, a period, words to leave out, tags picked
// from the book's (with the days that carry each) and, on request, texts
// compared regardless of width and case. Each day found is listed with its
// date and a few words around its first hit; a double click shows the day
// and marks its hits, as the keyword search window shows a day.
class TDetailSearchForm : public QWidget {
    Q_OBJECT
public:
    static constexpr const char* kWindowName = "DetailSearchForm";
    static constexpr int kHelpContext = 42;

    // Reads the book's tags for the tag list.
    explicit TDetailSearchForm(SearchHost& host, QWidget* parent = nullptr);

    QLineEdit *Edit1, *Edit2, *Edit3;
    QLineEdit* LeaveOutEdit; // words separated by blanks
    QLineEdit *FromEdit, *ToEdit;
    QListWidget* TagList; // checkable: "#旅行 (42)"
    QCheckBox* FoldCheck;
    QListWidget* ResultList; // "yyyy/mm/dd  …words…"
    QLabel* CountLabel;
    QPushButton *StartBitBtn, *CloseBitBtn;

    // The handlers, public so that tests can replay the user's actions.
    void StartBitBtnClick();
    void ResultListDblClick(QListWidgetItem* item);
    void CloseBitBtnClick();
    // Fills the tag list from the book.
    void LoadTags();

signals:
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Search();

    SearchHost& host_;
    SearchCriteria searched_;
};

} // namespace kiv

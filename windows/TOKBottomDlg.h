// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ArchiveHost.h"

#include <QDialog>

#include <string>

class QPlainTextEdit;
class QPushButton;

namespace kiv {

// The output dialog: the Zip library's output lines, shown without being
// modal while day files are added, deleted or repaired. Lines accumulate
// over several runs while it stays open; every close (OK or the close box)
// hides it and empties the list.
class TOKBottomDlg : public QDialog, public archive::OutputSink {
    Q_OBJECT

public:
    explicit TOKBottomDlg(QWidget* parent = nullptr);

    void AppendLine(const std::string& line) override; // UTF-8
    void Repaint() override;
    bool IsActive() override;
    void Show() override;

    // Every way the dialog closes ends here (FormClose).
    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void OKBtnClick();

    QPushButton* OKBtn;
    QPlainTextEdit* Memo1;
};

} // namespace kiv

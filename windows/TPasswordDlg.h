// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ArchiveHost.h"

#include <QDialog>

#include <string>

class QLabel;
class QLineEdit;
class QPushButton;

namespace kiv {

class Prompts;

// The password dialog: asks for the password under which day files are
// encrypted when they are added to the book, and for the password of an
// encrypted member when one is read. Created once at start-up; hidden until
// a library asks. The typed text stays in the field for the next time.
class TPasswordDlg : public QDialog, public archive::PasswordSource {
    Q_OBJECT

public:
    explicit TPasswordDlg(Prompts& prompts, QWidget* parent = nullptr);

    // Runs the dialog modally through the prompts seam. On OK, password is
    // the field's text in code page 932, at most 80 bytes.
    bool AskPassword(std::string& password) override;
    // Says "パスワードが違います。" first.
    bool AskPasswordAgain(std::string& password) override;
    // The password for days about to be encrypted into the book. When the
    // book holds encrypted days, the password is tried on one of them and
    // the user asked whether to go on when it does not open it (a book may
    // hold days of several passwords); otherwise it is typed a second time
    // and must match. Cancel in any of these steps cancels.
    bool AskNewPassword(const std::string& book, std::string& password) override;
    // Empties the field, its text wiped where it lay.
    void Forget() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void OKBtnClick();
    void CancelBtnClick();
    // Asks for the password once more, in the emptied field; true with
    // the second text when OK ended it.
    bool AskAgain(std::string& password);
    // Label1's caption, the label at least as wide as it.
    void SetLabel(const QString& caption);

    Prompts& prompts_;
    QLabel* Label1;
    QLineEdit* Password;
    QPushButton* OKBtn;
    QPushButton* CancelBtn;
};

} // namespace kiv

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace kiv {

class Prompts;

// The version window: the program file, its version and the versions of
// the two archive libraries (read from the archive layer's host). Created
// for each showing and destroyed when it closes.
class TAboutForm : public QDialog {
    Q_OBJECT

public:
    explicit TAboutForm(QWidget* owner = nullptr);

    // The version command: creates the window with owner, shows it modally
    // through the prompts seam and destroys it.
    static void Execute(Prompts& prompts, QWidget* owner);

    // "ZipVersion : 2.3" and "UnZipVersion : 5.40" for library values 230
    // and 540, with the user's decimal separator.
    static QString ZipVersionText(int version);
    static QString UnZipVersionText(int version);

private:
    void FormCreate();
    void OKButtonClick();

    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    QLabel* ZipVersionLabel;
    QLabel* UnZipVersionLabel;
    QLabel* LicenseLabel;
    QPushButton* OKButton;
};

} // namespace kiv

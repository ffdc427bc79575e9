// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "TMainForm.h"

#include <memory>

class QApplication;

namespace kiv {

class Prompts;
class TCalendarForm;
class TDayBook;
class TDiaryForm;
class TOKBottomDlg;
class TPasswordDlg;
class TPictureForm;
class TScheduleForm;

// The settings of the application made before any window exists: the
// standard buttons in Japanese whatever the locale, the windows' font, and
// an end that only the main window's closing brings (the calendar window
// stays beside it). No display name is set: the platforms append one to
// every window title, and the captions must read exactly as the windows
// set them.
void SetUpApplication(QApplication& application);

// All windows of the running program, created in their order: the main
// window, the picture, diary and schedule windows, the password and output
// dialogs, and last the calendar window, whose creation selects today and
// clears the modified flag that the editor windows' creation set. The day
// record exists before any of them and outlives them.
class Program {
public:
    Program(TDayBook& record, Prompts& prompts, const TMainForm::Setup& setup);
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    TMainForm& MainForm() { return *mainForm_; }
    TPictureForm& PictureForm() { return *picture_; }
    TDiaryForm& DiaryForm() { return *diary_; }
    TScheduleForm& ScheduleForm() { return *schedule_; }
    TPasswordDlg& PasswordDlg() { return *password_; }
    TOKBottomDlg& OKBottomDlg() { return *output_; }
    TCalendarForm& CalendarForm() { return *calendar_; }

private:
    std::unique_ptr<TMainForm> mainForm_;
    TPictureForm* picture_ = nullptr; // children of the main window's frame
    TDiaryForm* diary_ = nullptr;
    TScheduleForm* schedule_ = nullptr;
    std::unique_ptr<TPasswordDlg> password_;
    std::unique_ptr<TOKBottomDlg> output_;
    std::unique_ptr<TCalendarForm> calendar_;
};

} // namespace kiv

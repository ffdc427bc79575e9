// SPDX-License-Identifier: GPL-3.0-or-later
#include "Program.h"

#include "Archive.h"
#include "Fonts.h"
#include "TCalendarForm.h"
#include "TDiaryForm.h"
#include "TOKBottomDlg.h"
#include "TPasswordDlg.h"
#include "TPictureForm.h"
#include "TScheduleForm.h"
#include "Workspace.h"

#include <QApplication>
#include <QCheckBox>
#include <QIcon>
#include <QLibraryInfo>
#include <QTranslator>

namespace kiv {

void SetUpApplication(QApplication& application)
{
    application.setApplicationName(QStringLiteral("kiv"));
    // Once installed, the windows belong to the menu entry and show its icon.
    application.setDesktopFileName(QStringLiteral("jp.kiv.Diary"));
    application.setWindowIcon(QIcon::fromTheme(QStringLiteral("jp.kiv.Diary")));
    // The standard buttons read はい / いいえ / キャンセル whatever the locale.
    auto* translator = new QTranslator(&application);
    if (translator->load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        application.installTranslator(translator);
    application.setFont(FormFont());
    application.setQuitOnLastWindowClosed(false);
}

Program::Program(TDayBook& record, Prompts& prompts, const TMainForm::Setup& setup)
{
    mainForm_ = std::make_unique<TMainForm>(record, prompts, setup);
    Workspace& host = mainForm_->workspace();
    picture_ = new TPictureForm(host);
    mainForm_->AddEditorWindow(picture_);
    diary_ = new TDiaryForm(host);
    mainForm_->AddEditorWindow(diary_);
    schedule_ = new TScheduleForm(host);
    mainForm_->AddEditorWindow(schedule_);
    password_ = std::make_unique<TPasswordDlg>(prompts, mainForm_.get());
    output_ = std::make_unique<TOKBottomDlg>(mainForm_.get());
    calendar_ = std::make_unique<TCalendarForm>(host);
    mainForm_->AttachWindows({ picture_, diary_, schedule_, calendar_.get() });

    archive::Host& archiveHost = archive::CurrentHost();
    archiveHost.password = password_.get();
    archiveHost.output = output_.get();
    TCalendarForm* calendar = calendar_.get();
    archiveHost.passwordChecked = [calendar] { return calendar->PassWordCheckBox->isChecked(); };
}

Program::~Program()
{
    // The archive layer must not reach windows that are gone.
    archive::Host& archiveHost = archive::CurrentHost();
    archiveHost.password = nullptr;
    archiveHost.output = nullptr;
    archiveHost.passwordChecked = nullptr;
    archiveHost.window = nullptr;
    calendar_.reset();
    output_.reset();
    password_.reset();
    mainForm_.reset();
}

} // namespace kiv

// SPDX-License-Identifier: GPL-3.0-or-later
#include "TMainForm.h"

#include "Archive.h"
#include "BookCommands.h"
#include "BookWatcher.h"
#include "EncryptionSetting.h"
#include "Registry.h"
#include "ErrorGuard.h"
#include "Fonts.h"
#include "Help.h"
#include "OuterSize.h"
#include "PictureCommands.h"
#include "Prompts.h"
#include "TCalendarForm.h"
#include "TDetailSearchForm.h"
#include "TSearchForm.h"
#include "TransferCommands.h"
#include "WorkingDirectory.h"
#include "Workspace.h"

#include <QActionGroup>
#include <QCloseEvent>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QShortcut>
#include <QStatusBar>

namespace kiv {

TMainForm::TMainForm(TDayBook& record, Prompts& prompts, const Setup& setup)
    : prompts_(prompts)
    , arguments_(setup.arguments)
{
    setObjectName("MainForm");
    setFont(FormFont());
    setWindowTitle(QStringLiteral("ＫＩＶの日記 ( 開いている日記なし  )"));
    setStatusTip(QStringLiteral("ＫＩＶの日記"));

    MdiArea = new QMdiArea(this);
    MdiArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    MdiArea->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setCentralWidget(MdiArea);
    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName("StatusBar1");
    StatusBar1->setFixedHeight(kStatusBarHeight);
    setStatusBar(StatusBar1);
    CreateMenu();
    // F1 also reaches the calendar window, a window of its own.
    auto* help = new QShortcut(QKeySequence::HelpContents, this);
    help->setContext(Qt::ApplicationShortcut);
    connect(help, &QShortcut::activated, this, &TMainForm::ContextHelp);
    move(kLeft, kTop);
    resize(kOuterWidth, kOuterHeight);
    KeepOuterSize(this, QSize(kOuterWidth, kOuterHeight));

    OpenDialog1 = { "KIVの作ったファイル|*.KIV", "KIV", {} };
    SaveDialog1 = OpenDialog1;

    std::string refusal;
    workingDirectory_ = std::make_unique<WorkingDirectoryClaim>(PrivateWorkingDirectory(refusal));
    if (!refusal.empty())
        ShowError(prompts, refusal, true);
    archive::Host host;
    host.prompts = &prompts;
    host.workingDirectory = workingDirectory_->Path();
    host.window = this;
    host.zip = setup.zip;
    host.unzip = setup.unzip;
    host.encryption = LoadEncryptionMethod();
    host.repairWording = &archive::RepairNoteText;
    host.keepPreviousBook = registry::KeepPreviousBook();
    host.lockWaitSeconds = registry::BookLockWait();
    // The window keeps answering while it waits for another writer.
    host.waitThroughPrompts = host.lockWaitSeconds != 0;
    archive::SetHost(host);
    ShowEncryption();

    workspace_ = std::make_unique<Workspace>(record, prompts, *workingDirectory_, *MdiArea);
    workspace_->SetHintSink([this](const QString& hint) { StatusBar1->showMessage(hint); });
    bookWatcher_ = new BookWatcher(
        [this] {
            // A search reads the book through the open handle meanwhile.
            if (archive::BookHandle != 0)
                return false;
            Guarded(workspace_->prompts(), [this] { workspace_->FollowBook(); });
            return true;
        },
        this);
    workspace_->SetBookSink([this](const std::string& book) { bookWatcher_->Watch(book); });
    // A standing note about the shown day: the hints cover it while they show.
    auto* dayNote = new QLabel(StatusBar1);
    dayNote->setObjectName(QStringLiteral("DayNote"));
    dayNote->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred); // never widens the window
    StatusBar1->addWidget(dayNote, 1);
    workspace_->SetNoteSink([dayNote](const QString& note) { dayNote->setText(note); });
    books_ = std::make_unique<BookCommands>(*workspace_, *this, OpenDialog1, SaveDialog1);
    pictures_ = std::make_unique<PictureCommands>(*workspace_, OpenDialog1, SaveDialog1);
    transfers_ = std::make_unique<TransferCommands>(*workspace_, *books_);

    // Every archive call has to finish before it returns.
    archive::UnZipLibrary& unzip = archive::CurrentUnZip();
    if (unzip.GetBackGroundMode() != 0)
        unzip.SetBackGroundMode(0);
    workspace_->SetModified(false);
}

TMainForm::~TMainForm()
{
    // The child windows report to the workspace while they go; they go first.
    for (QMdiSubWindow* window : MdiArea->subWindowList())
        delete window;
}

QAction* TMainForm::AddItem(QMenu* menu, const char* caption, const char* hint, void (TMainForm::*handler)())
{
    QAction* item = menu->addAction(QString::fromUtf8(caption));
    if (hint)
        item->setStatusTip(QString::fromUtf8(hint));
    connect(item, &QAction::triggered, this, handler);
    return item;
}

void TMainForm::CreateMenu()
{
    QMenuBar* bar = menuBar();
    bar->setObjectName("MainMenu1");

    File1 = bar->addMenu(QStringLiteral("ファイル"));
    Open1 = AddItem(File1, "日記を開く", "すでに保存されている日記書庫を開きます", &TMainForm::Open1Click);
    File1->addSeparator();
    SaveAs1 = AddItem(File1, "名前を付けて保存", "日記に名前を付けて書庫として保存します", &TMainForm::SaveAs1Click);
    Save1 = AddItem(File1, "上書き保存", "現在指定されている書庫の名前で保存します", &TMainForm::Save1Click);
    File1->addSeparator();
    Export1 = AddItem(File1, "書き出し…", "日記を JSON、カレンダー、PDF のファイルに書き出します", &TMainForm::Export1Click);
    Import1 = AddItem(
        File1, "取り込み…", "ほかの日記やカレンダーの日を、この日記に取り込みます", &TMainForm::Import1Click);
    File1->addSeparator();
    Close1 = AddItem(File1, "閉じる", nullptr, &TMainForm::Close1Click);
    File1->addSeparator();
    Exit1 = AddItem(File1, "終了", "終了します", &TMainForm::Exit1Click);

    Edit1 = bar->addMenu(QStringLiteral("編集"));
    connect(Edit1, &QMenu::aboutToShow, this, &TMainForm::Edit1Click);
    PictureInsert = AddItem(
        Edit1, "画像の取り込み", "指定されている日付の日記に画像を貼りつけます", &TMainForm::PictureInsertClick);
    PictureSave
        = AddItem(Edit1, "画像の保存", "表示されている画像をファイルに保存します。", &TMainForm::PictureSaveClick);
    Edit1->addSeparator();
    PictureDelete = AddItem(
        Edit1, "画像の削除", "現在指定されている日付の日記から画像を削除します", &TMainForm::PictureDeleteClick);
    Edit1->addSeparator();
    DeleteDayBook = AddItem(Edit1, "日記の削除", "現在表示されている日記を削除します", &TMainForm::DeleteDayBookClick);

    Find1 = bar->addAction(QStringLiteral("検索"));
    connect(Find1, &QAction::triggered, this, &TMainForm::Find1Click);

    Tool1 = bar->addMenu(QStringLiteral("ツール"));
    ArchiveRepair = AddItem(Tool1, "書庫の修復", "日記書庫を選んで修復します", &TMainForm::ArchiveRepairClick);
    DetailSearch1 = AddItem(Tool1, "詳しい検索", "期間やタグ、除く語を指定して日記を探します",
        &TMainForm::DetailSearch1Click);
    DetailSearch1->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F));
    Tool1->addSeparator();
    EncryptionMethod1 = Tool1->addMenu(QStringLiteral("暗号化の方式"));
    EncryptionMethod1->menuAction()->setStatusTip(QStringLiteral("パスワードで保護する日記の暗号化の方式を選びます"));
    TraditionalEncryption1 = AddItem(EncryptionMethod1, "従来のZIP暗号化",
        "どのZIPツールでも開けますが、解読される恐れがあります", &TMainForm::TraditionalEncryption1Click);
    Aes256Encryption1 = AddItem(EncryptionMethod1, "AES-256", "解読されにくい方式です。開けるZIPツールは限られます",
        &TMainForm::Aes256Encryption1Click);
    auto* methods = new QActionGroup(this);
    for (QAction* item : { TraditionalEncryption1, Aes256Encryption1 }) {
        item->setCheckable(true);
        methods->addAction(item);
    }

    Window1 = bar->addMenu(QStringLiteral("ウィンドウ"));
    Cascade1 = AddItem(Window1, "重ねて表示", "予定表、日記、画像を重ねて表示します", &TMainForm::Cascade1Click);
    Tile1 = AddItem(Window1, "縦に並べて表示", "予定表、日記、画像を水平に並べて表示します", &TMainForm::Tile1Click);
    ArrangeIcons1 = AddItem(Window1, "横に並べて表示", nullptr, &TMainForm::ArrangeIcons1Click);
    Window1->addSeparator();
    ScheduleTop = AddItem(Window1, "予定表を一番上に表示", "予定表を一番上に表示します", &TMainForm::ScheduleTopClick);
    DiaryTop = AddItem(Window1, "日記を一番上に表示", "日記を一番上に表示します", &TMainForm::DiaryTopClick);
    PictureTop = AddItem(Window1, "画像を一番上に表示", nullptr, &TMainForm::PictureTopClick);
    FindMenu = AddItem(Window1, "検索ウィンドウ", nullptr, &TMainForm::FindMenuClick);
    FindMenu->setEnabled(false);
    YearsFormShow = AddItem(
        Window1, "連用表示", "同じ日を年ごとに並べて表示します", &TMainForm::YearsFormShowClick);
    Window1->addSeparator();
    CalendarFormShow
        = AddItem(Window1, "カレンダーを表示", "カレンダーのウィンドウを表示します", &TMainForm::CalendarFormShowClick);

    Help1 = bar->addMenu(QStringLiteral("ヘルプ"));
    About1 = AddItem(Help1, "バージョン情報", "バージョン情報を表示します", &TMainForm::About1Click);
    Help1->addSeparator();
    Help2 = AddItem(Help1, "ヘルプ", nullptr, &TMainForm::Help2Click);
}

void TMainForm::AttachWindows(const EditorWindows& windows)
{
    workspace_->AttachWindows(windows);
    connect(windows.calendar, &TCalendarForm::YearsRequested, this, &TMainForm::YearsFormShowClick);
}

void TMainForm::Run(const std::function<void()>& body)
{
    Guarded(prompts_, body);
}

void TMainForm::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (firstShow_ && !firstShowQueued_) {
        // After the window has appeared, so that its questions stand over it.
        firstShowQueued_ = true;
        QMetaObject::invokeMethod(this, &TMainForm::FormShow, Qt::QueuedConnection);
    }
}

void TMainForm::FormShow()
{
    if (!firstShow_)
        return;
    Run([this] { books_->FirstShowing(arguments_); });
    firstShow_ = false;
}

void TMainForm::closeEvent(QCloseEvent* event)
{
    if (PutOffWhileSearching(&TMainForm::Exit1Click)) {
        event->ignore();
        return;
    }
    bool allowed = false;
    Run([&] { allowed = books_->CloseQuery(); });
    if (!allowed) {
        event->ignore();
        return;
    }
    Run([this] { books_->FormClose(); });
    if (TCalendarForm* calendar = workspace_->Windows().calendar)
        calendar->hide();
    event->accept();
    emit closed();
}

void TMainForm::Open1Click()
{
    if (PutOffWhileSearching(&TMainForm::Open1Click))
        return;
    Run([this] { books_->Open(); });
}
void TMainForm::SaveAs1Click()
{
    Run([this] { books_->SaveAs(); });
}
void TMainForm::Save1Click()
{
    Run([this] { books_->Save(); });
}
void TMainForm::Close1Click()
{
    if (PutOffWhileSearching(&TMainForm::Close1Click))
        return;
    Run([this] { books_->Close(); });
}
void TMainForm::Exit1Click()
{
    close();
}
void TMainForm::DeleteDayBookClick()
{
    Run([this] { books_->DeleteDayBook(); });
}
void TMainForm::Export1Click()
{
    Run([this] { transfers_->Export(); });
}
void TMainForm::Import1Click()
{
    if (PutOffWhileSearching(&TMainForm::Import1Click))
        return;
    Run([this] { transfers_->Import(); });
}
void TMainForm::ArchiveRepairClick()
{
    Run([this] { books_->ArchiveRepair(); });
}
void TMainForm::TraditionalEncryption1Click()
{
    ChooseEncryption(archive::EncryptionMethod::Traditional);
}

void TMainForm::Aes256Encryption1Click()
{
    ChooseEncryption(archive::EncryptionMethod::Aes256);
}

void TMainForm::ChooseEncryption(archive::EncryptionMethod method)
{
    Run([this, method] {
        // In effect at once, even when it cannot be kept for the next start.
        archive::CurrentHost().encryption = method;
        ShowEncryption();
        if (!StoreEncryptionMethod(method))
            ShowError(prompts_, "暗号化の方式の設定を保存できませんでした。", true);
    });
}

void TMainForm::ShowEncryption()
{
    const bool aes = archive::CurrentHost().encryption == archive::EncryptionMethod::Aes256;
    Aes256Encryption1->setChecked(aes);
    TraditionalEncryption1->setChecked(!aes);
}

void TMainForm::About1Click()
{
    Run([this] { books_->About(); });
}

void TMainForm::Edit1Click()
{
    Run([this] { pictures_->EditMenuOpening(*PictureSave); });
}
void TMainForm::PictureInsertClick()
{
    Run([this] { pictures_->Insert(); });
}
void TMainForm::PictureSaveClick()
{
    Run([this] { pictures_->Save(); });
}
void TMainForm::PictureDeleteClick()
{
    Run([this] { pictures_->Delete(); });
}

void TMainForm::Find1Click()
{
    Run([this] {
        if (workspace_->BookFileName().empty()) {
            ShowPlain(prompts_, "日記が開いていないので検索はできません。", true);
            return;
        }
        if (QWidget* shown = ChildForm(TSearchForm::kWindowName)) {
            searchForm_ = static_cast<TSearchForm*>(shown);
            workspace_->ShowOnTop(searchForm_);
            FindMenu->setEnabled(true);
            return;
        }
        auto* form = new TSearchForm(*workspace_);
        connect(form, &TSearchForm::closed, this, [this] { FindMenu->setEnabled(false); });
        QMdiSubWindow* window = AddChildWindow(
            form, Qt::SubWindow | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
        window->setAttribute(Qt::WA_DeleteOnClose);
        searchForm_ = form;
        FindMenu->setEnabled(true);
    });
}

QWidget* TMainForm::ChildForm(const char* name) const
{
    for (QMdiSubWindow* window : MdiArea->subWindowList())
        if (window->widget() && window->widget()->objectName() == QLatin1String(name))
            return window->widget();
    return nullptr;
}

void TMainForm::DetailSearch1Click()
{
    Run([this] {
        if (workspace_->BookFileName().empty()) {
            ShowPlain(prompts_, "日記が開いていないので検索はできません。", true);
            return;
        }
        if (QWidget* shown = ChildForm(TDetailSearchForm::kWindowName)) {
            workspace_->ShowOnTop(shown);
            return;
        }
        auto* form = new TDetailSearchForm(*workspace_);
        QMdiSubWindow* window = AddChildWindow(
            form, Qt::SubWindow | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
        window->setAttribute(Qt::WA_DeleteOnClose);
        // The window takes the form's whole size, more than an editor's.
        window->resize(
            window->size().expandedTo(form->minimumSize() + window->size() - window->contentsRect().size()));
    });
}

void TMainForm::FindMenuClick()
{
    Run([this] {
        if (searchForm_)
            workspace_->ShowOnTop(searchForm_);
    });
}

bool TMainForm::PutOffWhileSearching(void (TMainForm::*command)())
{
    if (!searchForm_ || !searchForm_->Searching())
        return false;
    searchForm_->RequestStop([self = QPointer<TMainForm>(this), command] {
        if (self)
            (self->*command)();
    });
    return true;
}

} // namespace kiv

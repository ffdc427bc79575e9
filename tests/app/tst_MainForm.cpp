// SPDX-License-Identifier: GPL-3.0-or-later
#include "AppFixture.h"

#include "Help.h"
#include "Registry.h"
#include "TDetailSearchForm.h"
#include "WorkingDirectory.h"

#include <QAction>
#include <QInputMethodEvent>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QToolButton>

#include <sys/stat.h>

using namespace kiv;
using namespace kiv::testing;

namespace {

// Captions of a menu's items, "-" for a separator.
QStringList Captions(const QList<QAction*>& actions)
{
    QStringList captions;
    for (QAction* action : actions)
        captions << (action->isSeparator() ? QStringLiteral("-") : action->text());
    return captions;
}

QMdiSubWindow* Frame(QWidget& form)
{
    return static_cast<QMdiSubWindow*>(form.parentWidget());
}

void WriteIni(const App& app, const QByteArray& text)
{
    QDir().mkpath(app.root.path() + "/config/kiv");
    QFile file(app.root.path() + "/config/kiv/registry.ini");
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
}

} // namespace

class MainFormTest : public QObject {
    Q_OBJECT

private slots:
    void theMenuHoldsEveryItemInOrder()
    {
        App app;
        QMenuBar* bar = app.main().menuBar();
        QCOMPARE(
            Captions(bar->actions()), (QStringList { "ファイル", "編集", "検索", "ツール", "ウィンドウ", "ヘルプ" }));
        QCOMPARE(Captions(app.main().File1->actions()),
            (QStringList { "日記を開く", "-", "名前を付けて保存", "上書き保存", "-", "書き出し…", "取り込み…", "-", "閉じる",
                "-", "終了" }));
        QCOMPARE(Captions(app.main().Edit1->actions()),
            (QStringList { "画像の取り込み", "画像の保存", "-", "画像の削除", "-", "日記の削除" }));
        QCOMPARE(Captions(app.main().Tool1->actions()), (QStringList { "書庫の修復", "詳しい検索", "-", "暗号化の方式" }));
        QCOMPARE(Captions(app.main().EncryptionMethod1->actions()), (QStringList { "従来のZIP暗号化", "AES-256" }));
        QCOMPARE(Captions(app.main().Window1->actions()),
            (QStringList { "重ねて表示", "縦に並べて表示", "横に並べて表示", "-", "予定表を一番上に表示",
                "日記を一番上に表示", "画像を一番上に表示", "検索ウィンドウ", "連用表示", "-", "カレンダーを表示" }));
        QCOMPARE(Captions(app.main().Help1->actions()), (QStringList { "バージョン情報", "-", "ヘルプ" }));
        QVERIFY(app.main().Find1->menu() == nullptr);
        QVERIFY(!app.main().FindMenu->isEnabled());
        QCOMPARE(app.main().Tile1->statusTip(), QStringLiteral("予定表、日記、画像を水平に並べて表示します"));
        QCOMPARE(app.main().PictureSave->statusTip(), QStringLiteral("表示されている画像をファイルに保存します。"));
        QVERIFY(app.main().Close1->statusTip().isEmpty());
    }

    void theStatusBarShowsTheHighlightedItemsHint()
    {
        App app;
        app.main().show();
        app.main().menuBar()->setActiveAction(app.main().File1->menuAction());
        QTRY_VERIFY(app.main().File1->isVisible());
        app.main().File1->setActiveAction(app.main().Exit1);
        QTRY_COMPARE(app.main().StatusBar1->currentMessage(), QStringLiteral("終了します"));
        app.main().File1->hide();
        // What an editor left out is said there until the next hint.
        QInputMethodEvent commit;
        commit.setCommitString(QStringLiteral("今日は😀晴れ"));
        QApplication::sendEvent(app.diary().DayBookMemo, &commit);
        QCOMPARE(app.main().StatusBar1->currentMessage(), QStringLiteral("保存できない文字を除きました: 😀"));
        app.ws().ShowHint("カレンダー");
        QCOMPARE(app.main().StatusBar1->currentMessage(), QStringLiteral("カレンダー"));
    }

    void tileMakesStripsAndArrangeMakesColumns()
    {
        App app;
        app.main().resize(700, 500);
        app.main().show();
        QVERIFY(QTest::qWaitForWindowExposed(&app.main()));
        const QSize area = app.main().MdiArea->contentsRect().size();
        app.main().Tile1->trigger();
        int top = 0;
        QList<int> tops;
        for (QMdiSubWindow* window : app.main().MdiArea->subWindowList()) {
            QCOMPARE(window->x(), 0);
            QCOMPARE(window->width(), area.width());
            tops << window->y();
            top += window->height();
        }
        QCOMPARE(top, area.height());
        std::sort(tops.begin(), tops.end());
        QCOMPARE(tops, (QList<int> { 0, area.height() / 3, area.height() * 2 / 3 }));

        app.main().ArrangeIcons1->trigger();
        int width = 0;
        for (QMdiSubWindow* window : app.main().MdiArea->subWindowList()) {
            QCOMPARE(window->y(), 0);
            QCOMPARE(window->height(), area.height());
            width += window->width();
        }
        QCOMPARE(width, area.width());
    }

    void editorWindowsMinimiseInsteadOfClosing()
    {
        App app;
        app.main().show();
        QVERIFY(!Frame(app.diary())->close());
        QVERIFY(Frame(app.diary())->isMinimized());
        QCOMPARE(app.main().MdiArea->subWindowList().size(), 3);
        app.main().DiaryTop->trigger();
        QVERIFY(!Frame(app.diary())->isMinimized());
        QCOMPARE(app.TopChild(), &app.diary());
        app.main().ScheduleTop->trigger();
        QCOMPARE(app.TopChild(), &app.schedule());
        app.main().PictureTop->trigger();
        QCOMPARE(app.TopChild(), &app.picture());
        app.calendar().hide();
        app.main().CalendarFormShow->trigger();
        QVERIFY(app.calendar().isVisible());
    }

    void aboutShowsTheVersionWindowModally()
    {
        App app;
        app.main().About1->trigger();
        QCOMPARE(app.prompts.shown().size(), std::size_t(1));
        QCOMPARE(app.prompts.shown()[0].kind, ScriptedPrompts::Kind::Modal);
    }

    void theCloseButtonAsksAsExitDoes()
    {
        App app;
        app.main().show();
        app.TypeDiary("未保存");
        app.prompts.Queue(Answer::Cancel);
        QVERIFY(!app.main().close());
        QCOMPARE(app.Messages(), QStringList { "日記は書き換えられています。保存しますか？" });
        QVERIFY(app.main().isVisible());
    }

    void theRegistryNamesTheWorkingDirectory_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QString>("expected"); // "<fallback>" for the user's own folder
        QTest::newRow("no file") << QByteArray() << "<fallback>";
        QTest::newRow("value") << QByteArray("[KIV_FILE]\nInstDir=/srv/diary work\n") << "/srv/diary work";
        QTest::newRow("quoted, any case") << QByteArray("[kiv_file]\r\ninstdir = \"/srv/x\"\r\n") << "/srv/x";
        QTest::newRow("key without value") << QByteArray("[KIV_FILE]\n") << "";
        QTest::newRow("other key") << QByteArray("[OTHER]\nInstDir=/srv/y\n") << "<fallback>";
    }
    void theRegistryNamesTheWorkingDirectory()
    {
        QFETCH(QByteArray, ini);
        QFETCH(QString, expected);
        App app({}, nullptr, nullptr, false);
        if (!ini.isEmpty())
            WriteIni(app, ini);
        const QString fallback = app.root.path() + "/state/kiv/work";
        QCOMPARE(QString::fromStdString(FindWorkingDirectory()), expected == "<fallback>" ? fallback : expected);
        QCOMPARE(QFileInfo(fallback).isDir(), expected == "<fallback>");
    }

    // Day files lie in plain text in the working directory: a folder that
    // others may look into is refused, the program's own made private.
    void aSharedWorkingDirectoryIsRefused_data()
    {
        QTest::addColumn<bool>("named");
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("refused");
        QTest::newRow("named, 0755") << true << 0755 << true;
        QTest::newRow("named, 0770") << true << 0770 << true;
        QTest::newRow("named, 0700") << true << 0700 << false;
        QTest::newRow("own, 0755") << false << 0755 << false;
    }
    void aSharedWorkingDirectoryIsRefused()
    {
        QFETCH(bool, named);
        QFETCH(int, mode);
        QFETCH(bool, refused);
        App app({}, nullptr, nullptr, false);
        const QString fallback = app.root.path() + "/state/kiv/work";
        const QString folder = named ? app.root.path() + "/shared" : fallback;
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(::chmod(folder.toLocal8Bit().constData(), mode_t(mode)) == 0);
        if (named)
            WriteIni(app, "[KIV_FILE]\nInstDir=" + folder.toUtf8() + "\n");
        app.Create();
        QCOMPARE(QString::fromStdString(app.ws().WorkingDirectory()), refused ? fallback : folder);
        QCOMPARE(app.Messages(),
            refused ? QStringList { "作業フォルダー " + folder + " は、ほかのユーザーも開けるので使いません。\r\n"
                          + "日記ファイルは " + fallback + " に置きます。" }
                    : QStringList());
        QCOMPARE(QFileInfo(app.ws().WorkingDirectory().c_str()).permissions() & 0x0077, QFile::Permissions());
    }

    // The method is checked in the menu, in effect at once and kept in the
    // settings group of registry.ini, apart from the working directory's key.
    void theEncryptionMethodIsChosenAndKept()
    {
        App app({}, nullptr, nullptr, false);
        WriteIni(app, "; mine\n[OTHER]\nx=1\n[KIV_SETTINGS]\nEncryption=bogus\n");
        app.Create();
        QVERIFY(app.main().TraditionalEncryption1->isChecked());
        QVERIFY(!app.main().Aes256Encryption1->isChecked());
        QVERIFY(archive::CurrentHost().encryption == archive::EncryptionMethod::Traditional);

        app.main().Aes256Encryption1->trigger();
        QVERIFY(app.main().Aes256Encryption1->isChecked());
        QVERIFY(!app.main().TraditionalEncryption1->isChecked());
        QVERIFY(archive::CurrentHost().encryption == archive::EncryptionMethod::Aes256);
        const QString ini = app.root.path() + "/config/kiv/registry.ini";
        QCOMPARE(ReadFile(ini.toStdString()), QByteArray("; mine\n[OTHER]\nx=1\n[KIV_SETTINGS]\nEncryption=aes256\n"));
        QVERIFY(!registry::ReadClassesRootText("KIV_FILE", "InstDir"));

        app.program.reset();
        app.Create();
        QVERIFY(app.main().Aes256Encryption1->isChecked());
        QVERIFY(archive::CurrentHost().encryption == archive::EncryptionMethod::Aes256);
        app.main().TraditionalEncryption1->trigger();
        QVERIFY(archive::CurrentHost().encryption == archive::EncryptionMethod::Traditional);
        QVERIFY(app.prompts.messages().empty());

        // A setting that cannot be kept is said so; the choice holds for now.
        QVERIFY(QFile::remove(ini));
        QVERIFY(QDir().mkpath(ini));
        app.main().Aes256Encryption1->trigger();
        QCOMPARE(app.Messages(), QStringList { "暗号化の方式の設定を保存できませんでした。" });
        QVERIFY(archive::CurrentHost().encryption == archive::EncryptionMethod::Aes256);
    }

    void anEmptyWorkingDirectoryPutsDayFilesAtTheRoot()
    {
        App app({}, nullptr, nullptr, false);
        WriteIni(app, "[KIV_FILE]\n");
        app.Create();
        QCOMPARE(app.ws().DayFilePath(QDate(2001, 5, 12)), std::string("/20010512.DAY"));
    }

    // Tiled windows first, one of them maximised: cascading gives every one
    // back its own size, each a step further down and right.
    void cascadeKeepsEveryChildAtItsOwnSize()
    {
        App app;
        app.ws().SetBookFileName(app.Path("book.KIV"));
        app.main().Find1->trigger();
        app.main().resize(800, 600);
        app.main().show();
        QVERIFY(QTest::qWaitForWindowExposed(&app.main()));
        app.main().Tile1->trigger();
        Frame(app.diary())->showMaximized();
        app.main().Cascade1->trigger();
        const auto windows = app.main().MdiArea->subWindowList(QMdiArea::StackingOrder);
        QCOMPARE(windows.size(), 4);
        for (int i = 0; i < windows.size(); ++i) {
            QVERIFY(!windows[i]->isMaximized());
            QCOMPARE(windows[i]->size(), QSize(544, 375));
            if (i > 0) {
                QVERIFY(windows[i]->x() > windows[i - 1]->x());
                QVERIFY(windows[i]->y() > windows[i - 1]->y());
            }
        }
    }

    void f1ShowsTheSectionOfTheActiveWindow_data()
    {
        QTest::addColumn<QString>("window");
        QTest::addColumn<QString>("topic");
        QTest::addColumn<QString>("heading");
        QTest::newRow("schedule") << "schedule" << "schedule.html#context-3" << "予定表ウィンドウ";
        QTest::newRow("diary") << "diary" << "diary.html#context-5" << "日記ウィンドウ";
        QTest::newRow("picture") << "picture" << "picture.html#context-9" << "画像ウィンドウ";
        QTest::newRow("search") << "search" << "search.html#context-41" << "検索ウィンドウ";
        QTest::newRow("years") << "years" << "years.html#context-47" << "連用表示";
        QTest::newRow("wider search") << "wider search" << "search.html#context-42" << "詳しい検索";
        QTest::newRow("calendar") << "calendar" << "calendar.html#context-31" << "カレンダーウィンドウ";
        QTest::newRow("help menu") << "menu" << "index.html#context-1" << "ＫＩＶの日記 ヘルプ";
    }
    void f1ShowsTheSectionOfTheActiveWindow()
    {
        QFETCH(QString, window);
        QFETCH(QString, topic);
        QFETCH(QString, heading);
        App app;
        app.ws().SetBookFileName(app.Path("book.KIV"));
        app.main().Find1->trigger();
        app.main().YearsFormShow->trigger();
        app.main().DetailSearch1->trigger();
        app.main().show();
        app.main().activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&app.main()));
        const std::map<QString, QWidget*> forms { { "schedule", &app.schedule() }, { "diary", &app.diary() },
            { "picture", &app.picture() }, { "search", app.main().SearchForm() }, { "years", app.main().YearsForm() },
            { "wider search", app.main().findChild<TDetailSearchForm*>() } };
        if (window == "menu") {
            app.main().Help2->trigger();
        } else if (window == "calendar") {
            app.calendar().activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&app.calendar()));
            QTest::keyClick(&app.calendar(), Qt::Key_F1);
        } else {
            QWidget* form = forms.at(window);
            app.main().MdiArea->setActiveSubWindow(Frame(*form));
            QTest::keyClick(form, Qt::Key_F1);
        }
        help::HelpWindow* viewer = app.main().HelpViewer();
        QVERIFY(viewer && viewer->isVisible());
        const QUrl shown = viewer->Shown();
        QCOMPARE(shown.fileName() + "#" + shown.fragment(), topic);
        // The section is there, and it is the one the window is about.
        QTextBlock block = viewer->Browser->document()->begin();
        while (block.isValid() && !block.charFormat().anchorNames().contains(shown.fragment())
            && !block.begin().fragment().charFormat().anchorNames().contains(shown.fragment()))
            block = block.next();
        QVERIFY(block.isValid());
        QCOMPARE(block.text(), heading);
        QVERIFY(app.prompts.shown().empty());
    }

    // Links lead from page to page, back and forward retrace them, and an
    // address off the disk is not followed.
    void helpFollowsLinksAndRetracesThem()
    {
        help::HelpWindow viewer(help::HelpFolder());
        viewer.ShowContext(1);
        QCOMPARE(viewer.Shown().fileName(), QStringLiteral("index.html"));
        QVERIFY(!viewer.BackButton->isEnabled());
        emit viewer.Browser->anchorClicked(QUrl("password.html"));
        QCOMPARE(viewer.Shown().fileName(), QStringLiteral("password.html"));
        emit viewer.Browser->anchorClicked(QUrl("https://example.org/"));
        QCOMPARE(viewer.Shown().fileName(), QStringLiteral("password.html"));
        viewer.BackButton->click();
        QCOMPARE(viewer.Shown().fileName(), QStringLiteral("index.html"));
        viewer.ForwardButton->click();
        QCOMPARE(viewer.Shown().fileName(), QStringLiteral("password.html"));
    }

    // Every link of the manual leads to a page that exists and, with a
    // section, to a section that page has.
    void everyLinkOfTheManualLeadsSomewhere()
    {
        const QDir folder(help::HelpFolder());
        QVERIFY(folder.exists("index.html"));
        std::map<QString, QStringList> anchors;
        std::vector<std::pair<QString, QUrl>> links;
        for (const QString& page : folder.entryList({ "*.html" })) {
            QFile file(folder.filePath(page));
            QVERIFY(file.open(QIODevice::ReadOnly));
            QTextDocument document;
            document.setHtml(QString::fromUtf8(file.readAll()));
            QStringList& names = anchors[page];
            for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
                names += block.charFormat().anchorNames();
                for (auto it = block.begin(); !it.atEnd(); ++it) {
                    const QTextCharFormat format = it.fragment().charFormat();
                    names += format.anchorNames();
                    if (format.isAnchor() && !format.anchorHref().isEmpty())
                        links.emplace_back(page, QUrl(format.anchorHref()));
                }
            }
        }
        QVERIFY(links.size() > 20);
        for (const auto& [page, link] : links) {
            QVERIFY2(link.scheme().isEmpty(), qPrintable(page + ": " + link.toString()));
            const QString target = link.path().isEmpty() ? page : link.path();
            QVERIFY2(anchors.count(target), qPrintable(page + ": " + link.toString()));
            if (link.hasFragment())
                QVERIFY2(anchors[target].contains(link.fragment()), qPrintable(page + ": " + link.toString()));
        }
    }

    // A display name of the application would be appended by the platform
    // to every window title ("ＫＩＶの日記 ( … ) - …", "警告 - …"): the
    // application must not have one, so its name stays the plain one.
    // (Last: it sets the application's font for the rest of the run.)
    void captionsReachTheTitleBarAsSet()
    {
        SetUpApplication(*qApp);
        QVERIFY(!qApp->quitOnLastWindowClosed());
        QCOMPARE(QGuiApplication::applicationDisplayName(), QStringLiteral("kiv"));
        const QString name = QCoreApplication::applicationName();
        QCoreApplication::setApplicationName(QStringLiteral("probe"));
        QCOMPARE(QGuiApplication::applicationDisplayName(), QStringLiteral("probe"));
        QCoreApplication::setApplicationName(name);
    }
};

QTEST_MAIN(MainFormTest)
#include "tst_MainForm.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// Pastes and drops of anything into every text field of the program's
// windows: the field takes the plain text it can hold and names what it
// left out; nothing brought, nothing changes.
#include "AppFixture.h"
#include "TMainForm.h"
#include "TSearchForm.h"

#include <QClipboard>
#include <QMenu>
#include <QMimeData>
#include <QStatusBar>
#include <QTableWidget>
#include <QTimer>
#include <QUrl>

using namespace kiv;
using namespace kiv::testing;

namespace {

enum class Route { Key, Menu, Middle, Drop };

// Ten megabytes of text in lines of a hundred characters.
QString TenMegabytes()
{
    return (QString(99, QChar('a')) + QChar('\n')).repeated(10 * 1024 * 1024 / 100);
}

// What is on the clipboard, in the selection or dragged: a kind of data.
QMimeData* Data(const QString& kind)
{
    auto* data = new QMimeData;
    if (kind == "plain") {
        data->setText("晴れ");
    } else if (kind == "outside code page 932") {
        data->setText("𠮷野家😀𠮷");
    } else if (kind == "rich text") {
        data->setHtml("<p><b>太字</b>と<img src=\"x.png\">絵</p>");
    } else if (kind == "image") {
        QImage image(8, 8, QImage::Format_RGB32);
        image.fill(Qt::red);
        data->setImageData(image);
    } else if (kind == "image with its address") {
        QImage image(8, 8, QImage::Format_RGB32);
        image.fill(Qt::blue);
        data->setImageData(image);
        data->setText("http://example.com/x.png");
    } else if (kind == "file list") {
        data->setUrls({ QUrl::fromLocalFile("/tmp/a.txt"), QUrl::fromLocalFile("/tmp/日記.txt") });
    } else if (kind == "10 MB") {
        data->setText(TenMegabytes());
    }
    return data;
}

} // namespace

class PasteTest : public QObject {
    Q_OBJECT

private slots:
    void fieldsTakeWhatTheyCanHoldOfAnyPaste_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<int>("route");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("kept");
        QTest::addColumn<QString>("hint");
        const QString files = "/tmp/a.txt\n/tmp/日記.txt";
        const QString outside = "保存できない文字を除きました: 𠮷😀";
        const QString image = "文字でないものを除きました: 画像";
        const std::pair<const char*, Route> routes[]
            = { { "key", Route::Key }, { "menu", Route::Menu }, { "middle button", Route::Middle },
                { "drop", Route::Drop } };
        for (const char* field : { "diary", "weather", "schedule memo", "schedule cell", "keyword" }) {
            const bool memo = QString(field) == "diary" || QString(field) == "schedule memo";
            for (const auto& [routeName, route] : routes) {
                auto row = [&](const char* kind, const QString& kept, const QString& hint) {
                    QTest::addRow("%s, %s, %s", field, routeName, kind)
                        << QString(field) << int(route) << QString(kind) << kept << hint;
                };
                row("nothing", "", "");
                row("plain", "晴れ", "");
                row("outside code page 932", "野家", outside);
                row("rich text", "太字と絵", "");
                row("image", "", image);
                row("image with its address", "http://example.com/x.png", image);
                row("file list", memo ? files : QString(files).replace('\n', ' '), "");
            }
            // A memo holds ten megabytes; a line edit its 32767 characters.
            const QString tenMegabytes = TenMegabytes();
            if (memo)
                QTest::addRow("%s, key, 10 MB", field) << QString(field) << int(Route::Key) << "10 MB" << tenMegabytes << "";
            else
                QTest::addRow("%s, drop, 10 MB", field)
                    << QString(field) << int(Route::Drop) << "10 MB"
                    << QString(tenMegabytes).replace('\n', ' ').left(32766)
                    << QString("長すぎる分を除きました: %1 文字").arg(tenMegabytes.size() - 32766);
        }
    }

    void fieldsTakeWhatTheyCanHoldOfAnyPaste()
    {
        QFETCH(QString, field);
        QFETCH(int, route);
        QFETCH(QString, kind);
        QFETCH(QString, kept);
        QFETCH(QString, hint);
        if (Route(route) == Route::Middle && !QApplication::clipboard()->supportsSelection())
            QSKIP("the platform has no selection to paste");
        // A drag that brings nothing the field can take is refused before it drops.
        if (Route(route) == Route::Drop && kept.isEmpty())
            hint.clear();

        App app;
        QVERIFY(app.Start());
        QWidget* editor = nullptr;
        if (field == "diary") {
            app.Window(app.diary());
            editor = app.diary().DayBookMemo;
        } else if (field == "weather") {
            app.Window(app.diary());
            editor = app.diary().WeatherEdit;
        } else if (field == "schedule memo") {
            app.Window(app.schedule());
            editor = app.schedule().ScheduleMemo;
        } else if (field == "schedule cell") {
            app.Window(app.schedule());
            QTableWidget* grid = app.schedule().ScheduleStringGrid;
            grid->setFocus();
            grid->setCurrentCell(2, 1);
            QTest::keyClick(grid, Qt::Key_F2);
            editor = qobject_cast<QLineEdit*>(grid->indexWidget(grid->currentIndex()));
        } else {
            app.ws().SetBookFileName(app.Path("diary.KIV"));
            app.main().Find1Click();
            QVERIFY(app.main().SearchForm());
            editor = app.main().SearchForm()->Edit1;
        }
        QVERIFY(editor);
        auto* memo = qobject_cast<QPlainTextEdit*>(editor);
        auto* line = qobject_cast<QLineEdit*>(editor);
        QWidget* surface = memo ? memo->viewport() : editor;
        auto text = [&] { return memo ? memo->toPlainText() : line->text(); };
        if (memo) {
            memo->setPlainText("朝");
            memo->moveCursor(QTextCursor::End);
        } else {
            line->setText("朝");
        }
        editor->setFocus();
        // The end of the first line, where a click or a drop goes in.
        const QPoint end(surface->width() - 4, memo ? 4 : surface->height() / 2);
        app.main().StatusBar1->clearMessage();
        app.prompts.clear();

        switch (Route(route)) {
        case Route::Key:
            QApplication::clipboard()->setMimeData(Data(kind));
            QTest::keyClick(editor, Qt::Key_V, Qt::ControlModifier);
            break;
        case Route::Menu: {
            QApplication::clipboard()->setMimeData(Data(kind));
            bool pasted = false;
            QTimer::singleShot(0, [&] {
                auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
                QVERIFY(menu);
                const QString paste = QKeySequence(QKeySequence::Paste).toString(QKeySequence::NativeText);
                for (QAction* action : menu->actions())
                    if (action->text().endsWith(paste) && action->isEnabled()) {
                        action->trigger();
                        pasted = true;
                    }
                menu->close();
            });
            QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(4, 4), surface->mapToGlobal(QPoint(4, 4)));
            QApplication::sendEvent(surface, &click);
            // The menu offers no paste while the clipboard has no text.
            if (!pasted)
                QCOMPARE(kept, QString());
            break;
        }
        case Route::Middle:
            QApplication::clipboard()->setMimeData(Data(kind), QClipboard::Selection);
            QTest::mouseClick(surface, Qt::MiddleButton, Qt::NoModifier, end);
            break;
        case Route::Drop: {
            std::unique_ptr<QMimeData> data(Data(kind));
            QDragEnterEvent enter(end, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(surface, &enter);
            QCOMPARE(enter.isAccepted(), !kept.isEmpty());
            QDragMoveEvent move(end, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(surface, &move);
            QDropEvent drop(end, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(surface, &drop);
            QCOMPARE(drop.isAccepted(), !kept.isEmpty());
            break;
        }
        }
        const QString now = text();
        QCOMPARE(now.size(), kept.size() + 1);
        QVERIFY(now == "朝" + kept);
        int beeps = 0;
        for (const auto& shown : app.prompts.shown())
            beeps += shown.kind == ScriptedPrompts::Kind::Beep;
        QCOMPARE(beeps, hint.isEmpty() ? 0 : 1);
        QCOMPARE(app.main().StatusBar1->currentMessage(), hint);
        QVERIFY(app.prompts.messages().empty());
        QApplication::clipboard()->clear();
    }
};

QTEST_MAIN(PasteTest)
#include "tst_Paste.moc"

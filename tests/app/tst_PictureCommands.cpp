// SPDX-License-Identifier: GPL-3.0-or-later
#include "AppFixture.h"

#include <QAction>
#include <QBuffer>
#include <QImage>

using namespace kiv;
using namespace kiv::testing;

namespace {

QByteArray Picture(const char* format)
{
    QImage image(24, 16, QImage::Format_RGB32);
    image.fill(QColor(200, 40, 90));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

std::string Save(App& app, const char* name, const QByteArray& bytes)
{
    const std::string path = app.Path(name);
    QDir().mkpath(QFileInfo(QString::fromStdString(path)).path());
    WriteFile(path, std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    return path;
}

QByteArray Payload(const TDayBook& record)
{
    return QByteArray(reinterpret_cast<const char*>(record.PhotoData().data()), record.PhotoSize());
}

// The save dialog as it was shown last.
FileDialog LastSaveDialog(const App& app)
{
    FileDialog dialog;
    for (const auto& shown : app.prompts.shown())
        if (shown.kind == ScriptedPrompts::Kind::SaveFile)
            dialog = shown.dialog;
    return dialog;
}

void Insert(App& app, const std::string& path)
{
    app.prompts.QueueFile(path);
    app.main().PictureInsert->trigger();
}

} // namespace

class PictureCommandsTest : public QObject {
    Q_OBJECT

private slots:
    void insertTakesTheKindFromTheExtension_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("kind"); // of the record afterwards
        QTest::addColumn<bool>("replaced"); // the earlier BMP is gone
        QTest::newRow("upper-case JPEG") << "PHOTO.JPEG" << Picture("JPG") << int(TDayBook::kJpeg) << true;
        QTest::newRow("jpg") << "photo.jpg" << Picture("JPG") << int(TDayBook::kJpeg) << true;
        QTest::newRow("gif changes nothing") << "photo.gif" << Picture("PNG") << int(TDayBook::kBmp) << false;
        QTest::newRow("empty bmp removes") << "empty.bmp" << QByteArray() << int(TDayBook::kBmp) << true;
    }
    void insertTakesTheKindFromTheExtension()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(int, kind);
        QFETCH(bool, replaced);
        App app;
        const QByteArray earlier = Picture("BMP");
        Insert(app, Save(app, "earlier.bmp", earlier));
        QCOMPARE(app.ws().Record().PhotoKind(), int(TDayBook::kBmp));
        QCOMPARE(app.prompts.shown().front().dialog.filter,
            std::string("画像ファイル ( *.bmp, *.jpg, *.jpeg )|*.bmp;*.jpg;*.jpeg"));
        app.ws().SetModified(false);

        Insert(app, Save(app, name.toUtf8().constData(), bytes));
        QVERIFY(app.ws().Modified());
        QCOMPARE(app.ws().Record().PhotoKind(), kind);
        QCOMPARE(Payload(app.ws().Record()), replaced ? bytes : earlier);
        QCOMPARE(app.picture().HasPicture(), !replaced || !bytes.isEmpty());
        app.main().Edit1Click();
        QCOMPARE(app.main().PictureSave->isEnabled(), app.ws().Record().PhotoSize() > 0);
        QVERIFY(app.prompts.messages().empty());
    }

    void cancellingTheInsertStillMarksTheDay()
    {
        App app;
        app.prompts.QueueFile({});
        app.main().PictureInsert->trigger();
        QVERIFY(app.ws().Modified());
        QCOMPARE(app.ws().Record().PhotoSize(), 0);
        app.main().Edit1Click();
        QVERIFY(!app.main().PictureSave->isEnabled());
    }

    void anUnreadableFileChangesNothing()
    {
        App app;
        Insert(app, app.Path("nowhere/photo.bmp"));
        QCOMPARE(app.Messages(),
            QStringList { QString::fromStdString("ファイル " + app.Path("nowhere/photo.bmp") + " は開けません.") });
        QVERIFY(!app.ws().Modified());
    }

    void exportGivesBackTheInsertedBytes()
    {
        App app;
        const QByteArray jpeg = Picture("JPG");
        Insert(app, Save(app, "pictures/photo.jpeg", jpeg));
        const std::string target = app.Path("out.jpg");
        app.main().SaveDialog1.fileName = app.Path("pictures/old.KIV");
        app.prompts.QueueFile(target);
        app.main().PictureSave->trigger();
        const FileDialog dialog = LastSaveDialog(app);
        QCOMPARE(dialog.filter, std::string("ＪＰＥＧ画像 ( *.jpg)|*.jpg"));
        QCOMPARE(dialog.defaultExt, std::string("jpg"));
        QCOMPARE(dialog.fileName, app.Path("pictures/"));
        QCOMPARE(ReadFile(target), jpeg);
        QVERIFY(app.prompts.messages().empty());
    }

    void refusingToOverwriteWritesNothing()
    {
        App app;
        Insert(app, Save(app, "photo.bmp", Picture("BMP")));
        const std::string target = Save(app, "existing.bmp", "old");
        app.prompts.QueueFile(target);
        app.prompts.Queue(Answer::No);
        app.main().PictureSave->trigger();
        QCOMPARE(LastSaveDialog(app).filter, std::string("ビットマップ画像 ( *.bmp)|*.bmp"));
        const auto shown = app.prompts.messages();
        QCOMPARE(shown.size(), std::size_t(1));
        QCOMPARE(shown[0].text, std::string("すでに同名のファイルが存在します。\r\n上書き保存しますか？"));
        QCOMPARE(shown[0].buttons, Buttons::YesNo);
        QVERIFY(!shown[0].beepBefore);
        QCOMPARE(ReadFile(target), QByteArray("old"));
    }

    // A picture travels with its day into the book and back; deleting it
    // reaches the book as well.
    void thePictureSurvivesTheBookAndItsDeletionToo()
    {
        App app;
        const QByteArray bmp = Picture("BMP");
        const std::string book = app.Path("pictures.KIV");
        Insert(app, Save(app, "photo.bmp", bmp));
        app.TypeDiary("写真の日");
        app.prompts.QueueFile(book);
        app.main().SaveAs1->trigger();
        app.main().Close1->trigger();
        QVERIFY(!app.picture().HasPicture());

        app.prompts.QueueFile(book);
        app.main().Open1->trigger();
        QVERIFY(app.picture().HasPicture());
        QCOMPARE(Payload(app.ws().Record()), bmp);

        app.main().PictureDelete->trigger();
        QVERIFY(app.ws().Modified());
        QVERIFY(!app.picture().HasPicture());
        app.main().Edit1Click();
        QVERIFY(!app.main().PictureSave->isEnabled());
        app.main().Save1->trigger();
        app.main().Close1->trigger();
        app.prompts.QueueFile(book);
        app.main().Open1->trigger();
        QVERIFY(!app.picture().HasPicture());
        QCOMPARE(app.ws().Record().PhotoSize(), 0);
        QCOMPARE(app.diary().DayBookMemo->toPlainText(), QStringLiteral("写真の日"));
        QVERIFY(app.prompts.messages().empty());
    }
};

QTEST_MAIN(PictureCommandsTest)
#include "tst_PictureCommands.moc"

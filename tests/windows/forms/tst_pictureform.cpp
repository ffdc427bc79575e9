// SPDX-License-Identifier: GPL-3.0-or-later
// The picture window: the three display states, decoding of BMP and JPEG
// pictures made here, and the decoding errors.
#include "ErrorGuard.h"
#include "JpegImage.h"
#include "TDayBook.h"
#include "TPictureForm.h"
#include "TestHost.h"

#include "Error.h"

#include <QBuffer>
#include <QLabel>
#include <QPainter>
#include <QScrollBar>
#include <QTest>

#include <cstdio>
extern "C" {
#include <jerror.h>
#include <jpeglib.h>
}

using kiv::TDayBook;
using kiv::TPictureForm;

namespace {

constexpr QSize kClient(300, 200);

// A picture with a frame and a diagonal, so that scaling or shifting shows.
QImage Drawing(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(QColor(40, 120, 200));
    QPainter painter(&image);
    painter.setPen(QColor(250, 250, 0));
    painter.drawRect(0, 0, size.width() - 1, size.height() - 1);
    painter.fillRect(size.width() / 4, size.height() / 4, size.width() / 2, size.height() / 2, QColor(200, 30, 30));
    painter.end();
    return image;
}

std::vector<std::uint8_t> FileBytes(const QImage& image, const char* format, int quality = 95)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    const bool saved = image.save(&buffer, format, quality);
    Q_ASSERT(saved);
    return {bytes.begin(), bytes.end()};
}

void SetPicture(TDayBook& record, const std::vector<std::uint8_t>& bytes, int kind)
{
    record.SetPhotoData(bytes.data(), static_cast<std::int32_t>(bytes.size()), kind);
}

QColor WindowColour(const TPictureForm& form) { return form.viewport()->palette().color(QPalette::Window); }

QColor ButtonFace(const TPictureForm& form) { return form.palette().color(QPalette::Button); }

std::string ErrorOf(TPictureForm& form, TDayBook& record)
{
    try {
        form.ShowRecordPicture(record);
    } catch (const kiv::Error& error) {
        return error.what();
    }
    return {};
}

bool Near(QRgb a, QRgb b, int tolerance)
{
    return std::abs(qRed(a) - qRed(b)) <= tolerance && std::abs(qGreen(a) - qGreen(b)) <= tolerance
        && std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

} // namespace

class PictureFormTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TestHost> host_;
    std::unique_ptr<TPictureForm> form_;

private slots:
    void init()
    {
        host_ = std::make_unique<TestHost>();
        form_ = std::make_unique<TPictureForm>(*host_);
        form_->resize(kClient);
        form_->show();
        QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
    }

    void cleanup()
    {
        form_.reset();
        host_.reset();
    }

    void startsEmptyOnButtonFace()
    {
        QCOMPARE(form_->windowTitle(), QStringLiteral("画像"));
        QCOMPARE(form_->display(), TPictureForm::Display::Empty);
        QVERIFY(!form_->HasPicture());
        QCOMPARE(WindowColour(*form_), ButtonFace(*form_));
        QCOMPARE(form_->Image1->statusTip(),
                 QStringLiteral("メニューバーの編集、画像の貼り付け、と選んで行くと画像を貼りつけられます"));
    }

    void pictureAsLargeAsTheClientAreaFitsOnBlack_data()
    {
        QTest::addColumn<QByteArray>("format");
        QTest::addColumn<int>("kind");
        QTest::newRow("bmp") << QByteArray("BMP") << int(TDayBook::kBmp);
        QTest::newRow("jpeg") << QByteArray("JPG") << int(TDayBook::kJpeg);
    }

    void pictureAsLargeAsTheClientAreaFitsOnBlack()
    {
        QFETCH(QByteArray, format);
        QFETCH(int, kind);
        TDayBook record;
        SetPicture(record, FileBytes(Drawing(kClient), format.constData()), kind);
        form_->ShowRecordPicture(record);
        QCOMPARE(form_->display(), TPictureForm::Display::Fitted);
        QVERIFY(form_->HasPicture());
        QCOMPARE(form_->Image1->pixmap().size(), kClient);
        QCOMPARE(WindowColour(*form_), QColor(Qt::black));
        QCOMPARE(form_->Image1->geometry(), QRect(QPoint(0, 0), kClient));
        QCOMPARE(form_->Image1->alignment(), Qt::AlignCenter);
        QCoreApplication::processEvents();
        QVERIFY(!form_->horizontalScrollBar()->isVisible());
        QVERIFY(!form_->verticalScrollBar()->isVisible());
    }

    void onePixelLargerIsShownAtItsOwnSizeWithScrollBars_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QByteArray>("format");
        QTest::addColumn<int>("kind");
        QTest::newRow("wider bmp") << QSize(301, 200) << QByteArray("BMP") << int(TDayBook::kBmp);
        QTest::newRow("higher bmp") << QSize(300, 201) << QByteArray("BMP") << int(TDayBook::kBmp);
        QTest::newRow("wider jpeg") << QSize(301, 200) << QByteArray("JPG") << int(TDayBook::kJpeg);
    }

    void onePixelLargerIsShownAtItsOwnSizeWithScrollBars()
    {
        QFETCH(QSize, size);
        QFETCH(QByteArray, format);
        QFETCH(int, kind);
        TDayBook record;
        SetPicture(record, FileBytes(Drawing(size), format.constData()), kind);
        form_->ShowRecordPicture(record);
        QCOMPARE(form_->display(), TPictureForm::Display::Large);
        QCOMPARE(WindowColour(*form_), ButtonFace(*form_));
        QCOMPARE(form_->Image1->geometry(), QRect(QPoint(0, 0), size));
        QCOMPARE(form_->Image1->pixmap().size(), size);
        // Scroll bars come and go once the window has handled its events.
        QScrollBar* reaching = size.width() > kClient.width() ? form_->horizontalScrollBar() : form_->verticalScrollBar();
        QTRY_VERIFY(reaching->isVisible());
        QCOMPARE(reaching->maximum(), 1 + (reaching == form_->horizontalScrollBar()
                                               ? form_->verticalScrollBar()->width() * form_->verticalScrollBar()->isVisible()
                                               : form_->horizontalScrollBar()->height() * form_->horizontalScrollBar()->isVisible()));
    }

    void theFitIsDecidedOnlyWhenShown()
    {
        TDayBook record;
        SetPicture(record, FileBytes(Drawing(QSize(250, 150)), "BMP"), TDayBook::kBmp);
        form_->ShowRecordPicture(record);
        form_->resize(100, 100);
        QCOMPARE(form_->display(), TPictureForm::Display::Fitted);
        QCOMPARE(WindowColour(*form_), QColor(Qt::black));
        QCOMPARE(form_->Image1->geometry(), QRect(0, 0, 100, 100)); // cut, not scrolled
        QCoreApplication::processEvents();
        QVERIFY(!form_->horizontalScrollBar()->isVisible());

        SetPicture(record, FileBytes(Drawing(QSize(150, 150)), "BMP"), TDayBook::kBmp);
        form_->ShowRecordPicture(record);
        form_->resize(600, 600);
        QCOMPARE(form_->display(), TPictureForm::Display::Large);
        QCOMPARE(form_->Image1->size(), QSize(150, 150));
        QCOMPARE(WindowColour(*form_), ButtonFace(*form_));
    }

    void noPictureAfterAFittedOneReturnsToButtonFace()
    {
        TDayBook record;
        SetPicture(record, FileBytes(Drawing(QSize(20, 20)), "BMP"), TDayBook::kBmp);
        form_->ShowRecordPicture(record);
        QCOMPARE(WindowColour(*form_), QColor(Qt::black));
        TDayBook empty;
        form_->ShowRecordPicture(empty);
        QCOMPARE(form_->display(), TPictureForm::Display::Empty);
        QVERIFY(!form_->HasPicture());
        QCOMPARE(WindowColour(*form_), ButtonFace(*form_));
    }

    void clearImageKeepsTheColourAndClearPictureDoesNot()
    {
        TDayBook record;
        SetPicture(record, FileBytes(Drawing(QSize(400, 400)), "BMP"), TDayBook::kBmp);
        form_->ShowRecordPicture(record);
        QCOMPARE(form_->display(), TPictureForm::Display::Large);
        QTRY_VERIFY(form_->horizontalScrollBar()->isVisible());
        form_->ClearImage();
        QVERIFY(!form_->HasPicture());
        QTRY_VERIFY(!form_->horizontalScrollBar()->isVisible());

        SetPicture(record, FileBytes(Drawing(QSize(40, 40)), "BMP"), TDayBook::kBmp);
        form_->ShowRecordPicture(record);
        form_->ClearImage();
        QVERIFY(!form_->HasPicture());
        QCOMPARE(WindowColour(*form_), QColor(Qt::black));
        form_->ClearPicture();
        QCOMPARE(WindowColour(*form_), ButtonFace(*form_));
    }

    void unknownKindGivesTheBlackFittedState()
    {
        TDayBook record;
        SetPicture(record, FileBytes(Drawing(QSize(40, 40)), "BMP"), 3);
        form_->ShowRecordPicture(record);
        QCOMPARE(form_->display(), TPictureForm::Display::Fitted);
        QVERIFY(!form_->HasPicture());
        QCOMPARE(WindowColour(*form_), QColor(Qt::black));
    }

    void shownPixelsAreTheFilesPixels()
    {
        const QImage drawing = Drawing(QSize(64, 48));
        const std::vector<std::uint8_t> bmp = FileBytes(drawing, "BMP");
        TDayBook record;
        SetPicture(record, bmp, TDayBook::kBmp);
        form_->ShowRecordPicture(record);
        const QImage shownBmp = form_->Image1->pixmap().toImage().convertToFormat(QImage::Format_RGB32);
        QCOMPARE(shownBmp, drawing);
        // The record's bytes stay as they were.
        QVERIFY(record.PhotoData() == bmp);
        QCOMPARE(record.PhotoKind(), int(TDayBook::kBmp));

        SetPicture(record, FileBytes(drawing, "JPG", 100), TDayBook::kJpeg);
        form_->ShowRecordPicture(record);
        const QImage shownJpeg = form_->Image1->pixmap().toImage().convertToFormat(QImage::Format_RGB32);
        QCOMPARE(shownJpeg.size(), drawing.size());
        for (QPoint at : {QPoint(32, 24), QPoint(5, 5), QPoint(58, 40)})
            QVERIFY2(Near(shownJpeg.pixel(at), drawing.pixel(at), 12), qPrintable(QString::number(at.x())));
    }

    void corruptJpegReportsLibjpegsNumber_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("code");
        QTest::newRow("not a jpeg") << QByteArray("not a picture at all") << int(JERR_NO_SOI);
        const std::vector<std::uint8_t> good = FileBytes(Drawing(QSize(32, 32)), "JPG");
        QByteArray noFrame(reinterpret_cast<const char*>(good.data()), 2);
        noFrame.append("\xFF\xD9", 2); // start, then end of image at once
        QTest::newRow("no frame") << noFrame << int(JERR_NO_IMAGE);
    }

    void corruptJpegReportsLibjpegsNumber()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, code);
        TDayBook record;
        record.SetPhotoData(bytes.constData(), static_cast<std::int32_t>(bytes.size()), TDayBook::kJpeg);
        QCOMPARE(ErrorOf(*form_, record), "JPEG エラー #" + std::to_string(code));
        QCOMPARE(form_->display(), TPictureForm::Display::Empty);
        QVERIFY(!form_->HasPicture());
        QCOMPARE(WindowColour(*form_), ButtonFace(*form_));
        QCOMPARE(record.PhotoSize(), static_cast<std::int32_t>(bytes.size()));
    }

    void decodingErrorsReachTheGeneralReport()
    {
        TDayBook record;
        SetPicture(record, FileBytes(Drawing(QSize(20, 20)), "BMP"), TDayBook::kBmp);
        form_->ShowRecordPicture(record);
        QCOMPARE(WindowColour(*form_), QColor(Qt::black));

        const QByteArray garbage("BM this is no bitmap");
        record.SetPhotoData(garbage.constData(), static_cast<std::int32_t>(garbage.size()), TDayBook::kBmp);
        QVERIFY(!kiv::Guarded(host_->prompts(), [&] { form_->ShowRecordPicture(record); }));
        // A truncated JPEG whose header is cut short.
        const std::vector<std::uint8_t> jpeg = FileBytes(Drawing(QSize(20, 20)), "JPG");
        record.SetPhotoData(jpeg.data(), 1, TDayBook::kJpeg);
        QVERIFY(!kiv::Guarded(host_->prompts(), [&] { form_->ShowRecordPicture(record); }));

        const auto messages = host_->scripted.messages();
        QCOMPARE(messages.size(), std::size_t(2));
        QCOMPARE(messages[0].text, std::string("ビットマップイメージが不正です."));
        QCOMPARE(messages[0].icon, kiv::Icon::Error);
        QCOMPARE(messages[0].caption, std::string(kiv::kAppTitle));
        QVERIFY(messages[1].text.rfind("JPEG エラー #", 0) == 0);
        QCOMPARE(WindowColour(*form_), ButtonFace(*form_));
        QVERIFY(!form_->HasPicture());
    }

    void jpegDecodesGreyInGreyAndPaletteWithAtMost256Colours()
    {
        const QImage drawing = Drawing(QSize(40, 30));
        const std::vector<std::uint8_t> grey = FileBytes(drawing.convertToFormat(QImage::Format_Grayscale8), "JPG");
        const QImage greyImage = kiv::DecodeJpeg(grey.data(), grey.size(), false);
        QCOMPARE(greyImage.format(), QImage::Format_Grayscale8);
        QCOMPARE(greyImage.size(), drawing.size());

        // Two flat halves, meeting on a block boundary: libjpeg's colours
        // come back close to the drawn ones inside each half.
        QImage halves(64, 32, QImage::Format_RGB32);
        halves.fill(QColor(40, 120, 200));
        QPainter(&halves).fillRect(32, 0, 32, 32, QColor(200, 30, 30));
        const std::vector<std::uint8_t> colour = FileBytes(halves, "JPG", 100);
        const QImage rgb = kiv::DecodeJpeg(colour.data(), colour.size(), false);
        QCOMPARE(rgb.format(), QImage::Format_RGB888);
        const QImage palette = kiv::DecodeJpeg(colour.data(), colour.size(), true);
        QCOMPARE(palette.format(), QImage::Format_Indexed8);
        QVERIFY(palette.colorCount() > 0 && palette.colorCount() <= 256);
        for (QPoint at : {QPoint(8, 16), QPoint(56, 16)}) {
            QVERIFY(Near(rgb.pixel(at), halves.pixel(at), 6));
            QVERIFY(Near(palette.pixel(at), halves.pixel(at), 12));
        }

        QVERIFY_THROWS_EXCEPTION(kiv::Error, kiv::DecodeJpeg(colour.data(), 0, false));
    }
};

QTEST_MAIN(PictureFormTest)
#include "tst_pictureform.moc"

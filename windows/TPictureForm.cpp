// SPDX-License-Identifier: GPL-3.0-or-later
#include "TPictureForm.h"

#include "Error.h"
#include "ErrorGuard.h"
#include "Fonts.h"
#include "FormHost.h"
#include "JpegImage.h"
#include "TDayBook.h"

#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QScreen>
#include <QScrollBar>

#include <algorithm>
#include <cstddef>
#include <vector>

namespace kiv {

namespace {

constexpr int kClientWidth = 536;
constexpr int kClientHeight = 348;

// A display of 256 colours or fewer gets palette pixels.
bool PaletteDisplay()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen && screen->depth() <= 8;
}

} // namespace

TPictureForm::TPictureForm(FormHost& host, QWidget* parent) : QScrollArea(parent), host_(host)
{
    setObjectName(QStringLiteral("PictureForm"));
    setWindowTitle(QStringLiteral("画像"));
    setFont(FormFont());
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);

    Image1 = new QLabel;
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setStatusTip(QStringLiteral("メニューバーの編集、画像の貼り付け、と選んで行くと画像を貼りつけられます"));
    Image1->setScaledContents(false);
    setWidget(Image1);
    // The window's colour shows through the image control.
    Image1->setAutoFillBackground(false);
    viewport()->setAutoFillBackground(true);
    SetColour(palette().color(QPalette::Button));

    resize(kClientWidth, kClientHeight);
    Guarded(host_.prompts(), [this] { FormCreate(); });
}

void TPictureForm::FormCreate() { ClearImage(); }

void TPictureForm::SetColour(const QColor& colour)
{
    QPalette colours = viewport()->palette();
    colours.setColor(QPalette::Window, colour);
    viewport()->setPalette(colours);
    viewport()->update();
}

void TPictureForm::ClearImage()
{
    Image1->setScaledContents(false);
    Image1->clear();
    // Without a picture the image control covers the client area and
    // nothing scrolls.
    Image1->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    setWidgetResizable(true);
    display_ = Display::Empty;
    Image1->update();
}

void TPictureForm::ClearPicture()
{
    ClearImage();
    SetColour(palette().color(QPalette::Button));
}

bool TPictureForm::HasPicture() const
{
    const QPixmap picture = Image1->pixmap();
    return !picture.isNull() && picture.width() > 0 && picture.height() > 0;
}

void TPictureForm::ShowRecordPicture(TDayBook& record)
{
    ClearPicture();
    record.ConvertPhotoBitmap();
    if (record.PhotoSize() <= 0)
        return;

    // The window's own copy of the bytes; the record's are never decoded in
    // place.
    const std::size_t size = std::min(record.PhotoData().size(), static_cast<std::size_t>(record.PhotoSize()));
    const std::vector<std::uint8_t> bytes(record.PhotoData().begin(),
                                          record.PhotoData().begin() + static_cast<std::ptrdiff_t>(size));
    QImage picture;
    switch (record.PhotoKind()) {
    case TDayBook::kBmp:
        if (!picture.loadFromData(bytes.data(), static_cast<int>(bytes.size()), "BMP"))
            throw Error("ビットマップイメージが不正です");
        break;
    case TDayBook::kJpeg:
        picture = DecodeJpeg(bytes.data(), bytes.size(), PaletteDisplay());
        break;
    default:
        break;
    }

    const QSize pictureSize = picture.isNull() ? QSize(0, 0) : picture.size();
    if (!picture.isNull())
        Image1->setPixmap(QPixmap::fromImage(std::move(picture)));

    // The client area as it is now, without scroll bars (an empty window has
    // none).
    const QSize client = maximumViewportSize();
    if (pictureSize.width() <= client.width() && pictureSize.height() <= client.height())
        ShowFitted();
    else
        ShowLarge();
}

void TPictureForm::ShowFitted()
{
    // The image control covers the client area and centres the picture; if
    // the window is made smaller later, the picture is cut, not scrolled.
    Image1->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    Image1->setAlignment(Qt::AlignCenter);
    setWidgetResizable(true);
    SetColour(Qt::black);
    display_ = Display::Fitted;
}

void TPictureForm::ShowLarge()
{
    // The image control takes the picture's size at the top-left corner.
    setWidgetResizable(false);
    Image1->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Image1->resize(Image1->pixmap().size());
    horizontalScrollBar()->setValue(0);
    verticalScrollBar()->setValue(0);
    display_ = Display::Large;
}

} // namespace kiv

// SPDX-License-Identifier: GPL-3.0-or-later
// Days as an A4 document, one after the other: the date as a heading, the
// schedule's filled rows, the memo, weather and temperature, the diary and
// the picture. Qt embeds the fonts it uses, with their characters' codes,
// so that the text can be selected and searched.
#include "KivPdf.h"

#include <QGuiApplication>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QTemporaryDir>
#include <QTextLayout>
#include <QFile>

#include <cstdio>
#include <memory>

namespace {

constexpr int kResolution = 300; // dots per inch of the page's coordinates

void SetError(char* error, std::size_t size, const QString& text)
{
    if (error && size > 0)
        std::snprintf(error, size, "%s", text.toUtf8().constData());
}

QFont BodyFont(qreal points, bool bold)
{
    QFont font;
    font.setFamilies({ "IPAGothic", "IPAexGothic", "Noto Sans CJK JP", "VL Gothic", "sans-serif" });
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

} // namespace

struct KivPdf {
    // Qt wants a runtime folder; without the session's, one of our own
    // that goes with the document.
    QTemporaryDir runtime;
    std::unique_ptr<QGuiApplication> application;
    std::unique_ptr<QPdfWriter> writer;
    std::unique_ptr<QPainter> painter;
    QRectF page; // the printable area, in the painter's coordinates
    qreal y = 0;
    bool started = false;

    void NewPage()
    {
        writer->newPage();
        y = page.top();
    }

    // Text from the left edge plus indent, wrapped at the right margin,
    // continued on a new page when the page is full.
    void Text(const QString& text, const QFont& font, qreal indent = 0)
    {
        const QStringList paragraphs = text.split('\n');
        for (const QString& paragraph : paragraphs) {
            QTextLayout layout(paragraph, font, writer.get());
            QTextOption option;
            option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
            layout.setTextOption(option);
            layout.beginLayout();
            qreal height = 0;
            while (true) {
                QTextLine line = layout.createLine();
                if (!line.isValid())
                    break;
                line.setLineWidth(page.width() - indent);
                line.setPosition(QPointF(0, height));
                height += line.height();
            }
            layout.endLayout();
            if (layout.lineCount() == 0)
                continue;
            for (int i = 0; i < layout.lineCount(); ++i) {
                const QTextLine line = layout.lineAt(i);
                if (y + line.height() > page.bottom())
                    NewPage();
                line.draw(painter.get(), QPointF(page.left() + indent, y - line.y()));
                y += line.height();
            }
        }
    }

    void Gap(qreal points) { y += points * kResolution / 72.0; }

    void Picture(const unsigned char* bytes, std::size_t size)
    {
        QImage image;
        if (!image.loadFromData(bytes, static_cast<int>(size)) || image.isNull())
            return;
        // At most the page's width and a third of its height.
        QSizeF shown = QSizeF(image.size()).scaled(QSizeF(page.width(), page.height() / 3), Qt::KeepAspectRatio);
        if (shown.width() > image.width() * kResolution / 96.0)
            shown = QSizeF(image.size()) * (kResolution / 96.0);
        if (y + shown.height() > page.bottom())
            NewPage();
        painter->drawImage(QRectF(QPointF(page.left(), y), shown), image);
        y += shown.height();
    }
};

extern "C" {

__attribute__((visibility("default"))) KivPdf* KivPdfBegin(
    const char* path, const char* title, char* error, std::size_t errorSize)
{
    auto pdf = std::make_unique<KivPdf>();
    if (!QGuiApplication::instance()) {
        // Qt's notes about the session (no runtime folder, ...) are no news
        // for a command writing a file.
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) { });
        if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") && pdf->runtime.isValid())
            qputenv("XDG_RUNTIME_DIR", QFile::encodeName(pdf->runtime.path()));
        // No window is shown: the offscreen platform needs no display.
        static int argc = 3;
        static char name[] = "kivbook", option[] = "-platform", platform[] = "offscreen";
        static char* argv[] = { name, option, platform, nullptr };
        pdf->application = std::make_unique<QGuiApplication>(argc, argv);
    }
    pdf->writer = std::make_unique<QPdfWriter>(QString::fromUtf8(path));
    pdf->writer->setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(18, 18, 18, 18),
                                           QPageLayout::Millimeter));
    pdf->writer->setResolution(kResolution);
    pdf->writer->setTitle(QString::fromUtf8(title));
    pdf->writer->setCreator("kivbook");
    pdf->painter = std::make_unique<QPainter>();
    if (!pdf->painter->begin(pdf->writer.get())) {
        SetError(error, errorSize, QStringLiteral("cannot write %1").arg(QString::fromUtf8(path)));
        return nullptr;
    }
    pdf->page = QRectF(0, 0, pdf->writer->width(), pdf->writer->height());
    pdf->y = pdf->page.top();
    return pdf.release();
}

__attribute__((visibility("default"))) void KivPdfAddDay(KivPdf* pdf, const KivPdfDay* day)
{
    const QFont heading = BodyFont(15, true), label = BodyFont(10, true), body = BodyFont(10, false);
    if (pdf->started) {
        // A day starts on the page when its heading and a few lines fit.
        if (pdf->y + pdf->page.height() / 8 > pdf->page.bottom())
            pdf->NewPage();
        else
            pdf->Gap(14);
    }
    pdf->started = true;
    pdf->Text(QString::fromUtf8(day->title), heading);
    pdf->Gap(4);
    bool schedule = false;
    for (int row = 0; row < 11; ++row) {
        const QString text = QString::fromUtf8(day->texts[row]);
        if (text.isEmpty())
            continue;
        if (!schedule)
            pdf->Text(QStringLiteral("予定表"), label);
        schedule = true;
        pdf->Text(QStringLiteral("%1:00　").arg(row + 8, 2) + text, body, 12);
    }
    const QString memo = QString::fromUtf8(day->texts[11]);
    if (!memo.isEmpty()) {
        pdf->Text(QStringLiteral("メモ"), label);
        pdf->Text(memo, body, 12);
    }
    QString weather;
    if (*day->texts[12])
        weather = QStringLiteral("天気：") + QString::fromUtf8(day->texts[12]);
    if (*day->texts[13])
        weather += (weather.isEmpty() ? "" : "　") + QStringLiteral("温度：") + QString::fromUtf8(day->texts[13]);
    const QString diary = QString::fromUtf8(day->texts[14]);
    if (!weather.isEmpty() || !diary.isEmpty()) {
        pdf->Gap(4);
        pdf->Text(QStringLiteral("日記"), label);
        if (!weather.isEmpty())
            pdf->Text(weather, body, 12);
        if (!diary.isEmpty())
            pdf->Text(diary, body, 12);
    }
    if (day->picture && day->pictureSize > 0) {
        pdf->Gap(4);
        pdf->Picture(day->picture, day->pictureSize);
    }
}

__attribute__((visibility("default"))) int KivPdfEnd(KivPdf* pdf, char* error, std::size_t errorSize)
{
    std::unique_ptr<KivPdf> owned(pdf);
    if (!pdf->painter->end()) {
        SetError(error, errorSize, QStringLiteral("the document cannot be written"));
        return 1;
    }
    pdf->painter.reset();
    pdf->writer.reset();
    return 0;
}

} // extern "C"

// SPDX-License-Identifier: GPL-3.0-or-later
#include "Help.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QTextBrowser>
#include <QToolButton>
#include <QVBoxLayout>

namespace kiv::help {
namespace {

struct Topic {
    int context;
    const char* page;
};

// Where each help context of the windows leads.
constexpr Topic kTopics[] = {
    { 1, "index.html" },
    { 3, "schedule.html" },
    { 5, "diary.html" },
    { 9, "picture.html" },
    { 31, "calendar.html" },
    { 41, "search.html" },
    { 42, "search.html" },
    { 47, "years.html" },
};

constexpr const char* kContents = "index.html";

// Where the manual may be, in the order it is looked for.
QStringList Candidates()
{
    return { QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/" KIV_HELP_FROM_PROGRAM)),
        QStringLiteral(KIV_HELP_SOURCE_DIR) };
}

} // namespace

QString HelpFolder()
{
    for (const QString& folder : Candidates())
        if (QFileInfo(folder + QLatin1Char('/') + QLatin1String(kContents)).isFile())
            return folder;
    return {};
}

QString ContextTopic(int context)
{
    for (const Topic& topic : kTopics)
        if (topic.context == context)
            return QStringLiteral("%1#context-%2").arg(QLatin1String(topic.page)).arg(context);
    return QLatin1String(kContents);
}

HelpWindow::HelpWindow(const QString& folder, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , folder_(folder)
{
    setObjectName(QStringLiteral("HelpWindow"));
    setWindowTitle(QStringLiteral("ＫＩＶの日記 ヘルプ"));
    resize(640, 560);

    auto makeButton = [this](const char* caption) {
        auto* button = new QToolButton(this);
        button->setText(QString::fromUtf8(caption));
        button->setToolButtonStyle(Qt::ToolButtonTextOnly);
        return button;
    };
    BackButton = makeButton("戻る");
    ForwardButton = makeButton("進む");
    ContentsButton = makeButton("目次");
    Browser = new QTextBrowser(this);
    // Links are followed here, and only to pages on disk.
    Browser->setOpenLinks(false);
    Browser->setOpenExternalLinks(false);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(BackButton);
    buttons->addWidget(ForwardButton);
    buttons->addWidget(ContentsButton);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addLayout(buttons);
    layout->addWidget(Browser);

    BackButton->setEnabled(false);
    ForwardButton->setEnabled(false);
    connect(Browser, &QTextBrowser::backwardAvailable, BackButton, &QWidget::setEnabled);
    connect(Browser, &QTextBrowser::forwardAvailable, ForwardButton, &QWidget::setEnabled);
    connect(BackButton, &QToolButton::clicked, Browser, &QTextBrowser::backward);
    connect(ForwardButton, &QToolButton::clicked, Browser, &QTextBrowser::forward);
    connect(ContentsButton, &QToolButton::clicked, this, [this] { Go(Address(QLatin1String(kContents))); });
    connect(Browser, &QTextBrowser::anchorClicked, this, &HelpWindow::Follow);

    if (folder_.isEmpty()) {
        ContentsButton->setEnabled(false);
        Browser->setPlainText(QStringLiteral("ヘルプの文書が見つかりません。\n\n次の場所を探しました：\n")
            + Candidates().join(QLatin1Char('\n')));
    }
}

void HelpWindow::ShowContext(int context)
{
    if (!folder_.isEmpty())
        Go(Address(ContextTopic(context)));
    show();
    raise();
    activateWindow();
}

QUrl HelpWindow::Shown() const
{
    return Browser->source();
}

QUrl HelpWindow::Address(const QString& topic) const
{
    return QUrl::fromLocalFile(folder_ + QLatin1Char('/')).resolved(QUrl(topic));
}

void HelpWindow::Go(const QUrl& address)
{
    if (Browser->source() == address)
        Browser->scrollToAnchor(address.fragment());
    else
        Browser->setSource(address);
}

void HelpWindow::Follow(const QUrl& link)
{
    const QUrl address = Browser->source().resolved(link);
    // The manual is read from disk only: addresses elsewhere are not fetched.
    if (address.isLocalFile())
        Go(address);
}

} // namespace kiv::help

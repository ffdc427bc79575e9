// SPDX-License-Identifier: GPL-3.0-or-later
#include "QtPrompts.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QCheckBox>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>
#include <QTimer>

#include <vector>

namespace kiv {

namespace {

QString Text(const std::string& utf8) { return QString::fromStdString(utf8); }

QMessageBox::Icon BoxIcon(Icon icon)
{
    switch (icon) {
    case Icon::Warning: return QMessageBox::Warning;
    case Icon::Error: return QMessageBox::Critical;
    case Icon::Information: return QMessageBox::Information;
    case Icon::None: break;
    }
    return QMessageBox::NoIcon;
}

struct ButtonAnswer {
    QMessageBox::StandardButton button;
    Answer answer;
};

std::vector<ButtonAnswer> ButtonSet(Buttons buttons)
{
    switch (buttons) {
    case Buttons::YesNo:
    case Buttons::YesNoDefaultNo:
        return {{QMessageBox::Yes, Answer::Yes}, {QMessageBox::No, Answer::No}};
    case Buttons::YesNoCancel:
        return {{QMessageBox::Yes, Answer::Yes}, {QMessageBox::No, Answer::No}, {QMessageBox::Cancel, Answer::Cancel}};
    case Buttons::Ok:
        break;
    }
    return {{QMessageBox::Ok, Answer::Ok}};
}

bool RunFileDialog(QWidget* parent, FileDialog& state, QFileDialog::AcceptMode mode)
{
    QFileDialog dialog(parent);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    // The commands ask their own overwrite question.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    // The program's filter texts name their patterns themselves; the
    // dialog would name them a second time.
    dialog.setOption(QFileDialog::HideNameFilterDetails, true);
    const QString filter = Text(QtFileFilter(state.filter));
    if (!filter.isEmpty())
        dialog.setNameFilters(filter.split(QStringLiteral(";;")));
    if (!state.defaultExt.empty())
        dialog.setDefaultSuffix(Text(state.defaultExt));
    if (!state.fileName.empty()) {
        const QFileInfo proposed(Text(state.fileName));
        if (proposed.isAbsolute() || state.fileName.find('/') != std::string::npos)
            dialog.setDirectory(proposed.absolutePath());
        dialog.selectFile(proposed.fileName());
    }
    if (dialog.exec() != QDialog::Accepted)
        return false;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty())
        return false;
    state.fileName = chosen.first().toStdString();
    return true;
}

} // namespace

std::string QtFileFilter(const std::string& filter)
{
    std::vector<std::string> parts;
    std::size_t at = 0;
    while (!filter.empty()) {
        const std::size_t bar = filter.find('|', at);
        parts.push_back(filter.substr(at, bar == std::string::npos ? std::string::npos : bar - at));
        if (bar == std::string::npos)
            break;
        at = bar + 1;
    }
    std::string result;
    for (std::size_t i = 0; i < parts.size(); i += 2) {
        std::string pattern = i + 1 < parts.size() ? parts[i + 1] : std::string();
        for (char& c : pattern)
            if (c == ';')
                c = ' ';
        if (!result.empty())
            result += ";;";
        result += parts[i] + " (" + pattern + ")";
    }
    return result;
}

void QtPrompts::Beep() { QApplication::beep(); }

Answer QtPrompts::Message(Icon icon, const std::string& caption, const std::string& text, Buttons buttons)
{
    bool unused = false;
    return MessageWithCheck(icon, caption, text, buttons, {}, unused);
}

Answer QtPrompts::MessageWithCheck(Icon icon, const std::string& caption, const std::string& text, Buttons buttons,
                                   const std::string& check, bool& checked)
{
    QString shown = Text(text);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QMessageBox box(BoxIcon(icon), Text(caption), shown, QMessageBox::NoButton, parent_);
    box.setTextFormat(Qt::PlainText);
    const std::vector<ButtonAnswer> set = ButtonSet(buttons);
    std::vector<QAbstractButton*> made;
    for (const ButtonAnswer& entry : set)
        made.push_back(box.addButton(entry.button));
    box.setDefaultButton(static_cast<QPushButton*>(buttons == Buttons::YesNoDefaultNo ? made.back() : made.front()));
    box.setEscapeButton(made.back());
    QCheckBox* checkBox = nullptr;
    if (!check.empty()) {
        checkBox = new QCheckBox(Text(check), &box);
        checkBox->setChecked(checked);
        box.setCheckBox(checkBox);
    }
    box.exec();
    if (checkBox)
        checked = checkBox->isChecked();
    QAbstractButton* clicked = box.clickedButton();
    for (std::size_t i = 0; i < made.size(); ++i)
        if (made[i] == clicked)
            return set[i].answer;
    return set.back().answer;
}

bool QtPrompts::WaitWhile(const std::string& text, const std::function<bool()>& busy)
{
    // A short wait shows only the wait cursor; the program goes on
    // painting and taking timers meanwhile, but no input.
    QElapsedTimer waited;
    waited.start();
    bool stillBusy = busy();
    if (stillBusy) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        QEventLoop loop;
        while (stillBusy && waited.elapsed() < 1000) {
            QTimer::singleShot(50, &loop, &QEventLoop::quit);
            loop.exec(QEventLoop::ExcludeUserInputEvents);
            stillBusy = busy();
        }
        QApplication::restoreOverrideCursor();
    }
    if (!stillBusy)
        return true;
    QMessageBox box(QMessageBox::Information, Text(kAppTitle), Text(text), QMessageBox::Cancel, parent_);
    box.setTextFormat(Qt::PlainText);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &box, [&] {
        if (!busy())
            box.done(QMessageBox::Ok);
    });
    poll.start(100);
    return box.exec() == QMessageBox::Ok;
}

bool QtPrompts::OpenFile(FileDialog& dialog) { return RunFileDialog(parent_, dialog, QFileDialog::AcceptOpen); }

bool QtPrompts::SaveFile(FileDialog& dialog) { return RunFileDialog(parent_, dialog, QFileDialog::AcceptSave); }

bool QtPrompts::RunModal(QDialog& dialog) { return dialog.exec() == QDialog::Accepted; }

} // namespace kiv

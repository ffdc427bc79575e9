// SPDX-License-Identifier: GPL-3.0-or-later
#include "PictureCommands.h"

#include "DayFiles.h"
#include "Files.h"
#include "MemoryStream.h"
#include "PictureKind.h"
#include "Prompts.h"
#include "TDayBook.h"
#include "TPictureForm.h"
#include "Workspace.h"

#include <QAction>

namespace kiv {
namespace {

const char* const kPictureFilter = "画像ファイル ( *.bmp, *.jpg, *.jpeg )|*.bmp;*.jpg;*.jpeg";
const char* const kBmpFilter = "ビットマップ画像 ( *.bmp)|*.bmp";
const char* const kJpegFilter = "ＪＰＥＧ画像 ( *.jpg)|*.jpg";
const char* const kOverwriteQuestion = "すでに同名のファイルが存在します。\r\n上書き保存しますか？";

} // namespace

PictureCommands::PictureCommands(Workspace& workspace, FileDialog& openDialog, FileDialog& saveDialog)
    : workspace_(workspace)
    , openDialog_(openDialog)
    , saveDialog_(saveDialog)
{
}

void PictureCommands::EditMenuOpening(QAction& pictureSave)
{
    pictureSave.setEnabled(workspace_.Record().PhotoSize() > 0);
}

void PictureCommands::Insert()
{
    openDialog_.filter = kPictureFilter;
    if (workspace_.prompts().OpenFile(openDialog_)) {
        const std::int32_t kind = PictureKindOfExtension(dayfiles::Extension(openDialog_.fileName));
        if (kind != TDayBook::kNoPicture) {
            const std::vector<std::uint8_t> bytes = ReadWholeFile(openDialog_.fileName);
            workspace_.Record().SetPhotoData(bytes.data(), static_cast<std::int32_t>(bytes.size()), kind);
        }
        workspace_.Windows().picture->ShowRecordPicture(workspace_.Record());
    }
    workspace_.SetModified(true);
}

void PictureCommands::Save()
{
    TDayBook& record = workspace_.Record();
    if (record.PhotoSize() <= 0)
        return;
    saveDialog_.fileName = dayfiles::FolderPart(saveDialog_.fileName);
    MemoryStream stream;
    stream.Write(record.PhotoData().data(), static_cast<std::size_t>(record.PhotoSize()));
    switch (record.PhotoKind()) {
    case TDayBook::kBmp:
        saveDialog_.defaultExt = "bmp";
        saveDialog_.filter = kBmpFilter;
        break;
    case TDayBook::kJpeg:
        saveDialog_.defaultExt = "jpg";
        saveDialog_.filter = kJpegFilter;
        break;
    default:
        return;
    }
    saveDialog_.fileName = dayfiles::FolderPart(saveDialog_.fileName);
    if (!workspace_.prompts().SaveFile(saveDialog_))
        return;
    if (dayfiles::Exists(saveDialog_.fileName)
        && Ask(workspace_.prompts(), kOverwriteQuestion, Buttons::YesNo, false) == Answer::No)
        return;
    stream.SaveToFile(saveDialog_.fileName);
}

void PictureCommands::Delete()
{
    workspace_.Windows().picture->ClearPicture();
    workspace_.Record().SetPhotoData(nullptr, 0, TDayBook::kNoPicture);
    workspace_.SetModified(true);
}

} // namespace kiv

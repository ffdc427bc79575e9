// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QAction;

namespace kiv {

struct FileDialog;
class Workspace;

// The Edit menu's commands on the picture of the shown day. A picture is
// always one whole BMP or JPEG file, copied byte for byte into the day
// record; its kind comes from the extension of the file's name.
class PictureCommands {
public:
    PictureCommands(Workspace& workspace, FileDialog& openDialog, FileDialog& saveDialog);

    // The Edit menu opens: saving is offered only when the day has a picture.
    void EditMenuOpening(QAction& pictureSave);
    void Insert();
    void Save();
    // Empties the picture window and the record's picture, so that the
    // removal reaches the day file and the book.
    void Delete();

private:
    Workspace& workspace_;
    FileDialog& openDialog_;
    FileDialog& saveDialog_;
};

} // namespace kiv

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QScrollArea>

class QLabel;

namespace kiv {

class FormHost;
class TDayBook;

// The picture window: shows the picture of the shown day, never scaled.
// A picture that fits the client area when it is shown is centred on black;
// a larger one lies at its own size from the top-left corner, on the button
// face colour, and the scroll bars reach the rest. The fit is decided only
// when a picture is shown.
class TPictureForm : public QScrollArea {
    Q_OBJECT
public:
    explicit TPictureForm(FormHost& host, QWidget* parent = nullptr);

    QLabel* Image1;

    static constexpr int kHelpContext = 9;

    enum class Display { Empty, Fitted, Large };
    Display display() const { return display_; }

    // Drops the shown picture; the window colour stays.
    void ClearImage();
    // Drops the shown picture and returns to the button face colour.
    void ClearPicture();
    // Shows the record's picture (a "Photo.Data" bitmap is first moved into
    // the record's payload). A picture that does not decode fails with the
    // decoder's kiv::Error and leaves the window empty; the record's picture
    // bytes are never changed by the decoding.
    void ShowRecordPicture(TDayBook& record);
    // True when the image holds a non-empty picture.
    bool HasPicture() const;

private:
    void FormCreate();
    void SetColour(const QColor& colour);
    void ShowFitted();
    void ShowLarge();

    FormHost& host_;
    Display display_ = Display::Empty;
};

} // namespace kiv

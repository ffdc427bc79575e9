// SPDX-License-Identifier: GPL-3.0-or-later
#include "OuterSize.h"

#include <QEvent>
#include <QWidget>

namespace kiv {
namespace {

class OuterSizeKeeper : public QObject {
public:
    OuterSizeKeeper(QWidget* window, QSize outer)
        : QObject(window)
        , window_(window)
        , outer_(outer)
    {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        // A window manager that frames late reports it with a move (the
        // client lands inside the frame) or a resize.
        if (watched == window_
            && (event->type() == QEvent::Show || event->type() == QEvent::Move || event->type() == QEvent::Resize))
            Fit();
        return false;
    }

private:
    void Fit()
    {
        if (!window_->isVisible())
            return;
        const QSize frame = window_->frameGeometry().size() - window_->size();
        if (frame.isNull() || frame == fittedFrame_)
            return;
        fittedFrame_ = frame;
        window_->resize(outer_ - frame);
    }

    QWidget* window_;
    const QSize outer_;
    QSize fittedFrame_;
};

} // namespace

void KeepOuterSize(QWidget* window, QSize outer)
{
    new OuterSizeKeeper(window, outer);
}

} // namespace kiv

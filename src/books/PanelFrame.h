#pragma once

#include "controls/BoundControls.h"

#include <QFrame>
#include <QPushButton>

namespace books {

// The look of the small panels that lie over the books window's record.
inline void framePanel(QFrame* frame)
{
    frame->setFrameShape(QFrame::Panel);
    frame->setFrameShadow(QFrame::Raised);
    frame->setAutoFillBackground(true);
}

inline QPushButton* panelButton(QWidget* parent, const QString& name, const QString& caption)
{
    return controls::named(new QPushButton(caption, parent), name);
}

} // namespace books

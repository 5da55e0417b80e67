#pragma once

#include <QWidget>

// The widget that Tab moves to from w: the next one in the focus chain that takes
// focus by Tab (inner parts of composite controls do not).
inline QWidget* NextTabStop(QWidget* w)
{
    for (QWidget* next = w->nextInFocusChain(); next && next != w; next = next->nextInFocusChain()) {
        if ((next->focusPolicy() & Qt::TabFocus) && next->isEnabled() && !next->focusProxy())
            return next;
    }
    return nullptr;
}

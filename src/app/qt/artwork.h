// The window's artwork in Qt: the toolbar's and the window's pictures, and their grey forms.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace jor::app {

// Our own 32 x 32 pictures for the toolbar and the window.
QPixmap powerImage();    // red power symbol ("Beenden")
QPixmap migrateImage();  // an arrow carrying a document onto a stack ("Migrieren")
QPixmap greyImage(const QPixmap& image);

// Normal picture plus its grey form for the disabled state.
QIcon toolbarIcon(const QPixmap& image);

}  // namespace jor::app

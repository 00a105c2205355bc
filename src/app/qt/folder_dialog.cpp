// The folder chooser behind the "..." buttons, in Qt.
#include "app/qt/folder_dialog.h"

#include <QApplication>
#include <QFileDialog>

namespace jor::app {

std::string ShowFolderDialog(const std::string& title) {
    // Always from the top, never from the box's current text.
    const QString chosen = QFileDialog::getExistingDirectory(
        QApplication::activeWindow(), QString::fromStdString(title), QStringLiteral("/"), QFileDialog::ShowDirsOnly);
    return chosen.toStdString();
}

}  // namespace jor::app

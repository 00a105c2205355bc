// The folder chooser behind the "..." buttons, in Qt.
#pragma once

#include <string>

namespace jor::app {

// BrowseForFolder: a modal folder chooser owned by the active window,
// folders only, starting at the top of the file system. The chosen path as
// the dialog returns it, or the empty text on cancel.
std::string ShowFolderDialog(const std::string& title);

}  // namespace jor::app

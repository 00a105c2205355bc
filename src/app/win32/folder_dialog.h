// The folder chooser behind the "..." buttons, in Win32.
#pragma once

#include <string>

namespace jor::app {

// BrowseForFolder: the shell's folder browser, modal to the active window,
// file-system folders only, starting at the desktop. The chosen path as the
// shell returns it, or the empty text on cancel.
std::string ShowFolderDialog(const std::string& title);

}  // namespace jor::app

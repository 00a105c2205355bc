// <windows.h> for the Win32 sources, without the macros that would rename our own functions.
#pragma once

// <windows.h> for the Win32 sources. Its A/W macros would rename our own
// functions of the same names (FileSystem::CopyFile, DeleteFile,
// ...) in every file that sees them, so they are taken back here.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#undef CopyFile
#undef CreateFolder
#undef DeleteFile
#undef SetFileAttributes

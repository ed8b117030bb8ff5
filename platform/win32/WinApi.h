// <windows.h> and the shell/COM headers for the Win32 layer and the Wine tests.
//
// Several Win32 macros (CreateDirectory, DeleteFile, GetUserName ...) carry
// the same names as methods of the platform interfaces. They are removed here
// so that the interfaces keep their names whatever the include order; code in
// this layer calls the wide functions by their explicit names (...W).
#pragma once

#include <windows.h>

#include <aclapi.h>
#include <objbase.h>
#include <sddl.h>
#include <shellapi.h>
#include <shlobj.h>

#undef CopyFile
#undef CreateDirectory
#undef DeleteFile
#undef ExitWindows
#undef ExpandEnvironmentStrings
#undef GetDriveType
#undef GetEnvironmentVariable
#undef GetFileSecurity
#undef GetSystemDirectory
#undef GetTempPath
#undef GetUserName
#undef GetWindowsDirectory
#undef MoveFile
#undef QueryDosDevice
#undef RemoveDirectory
#undef SetEnvironmentVariable
#undef SetFileSecurity
#undef StartService

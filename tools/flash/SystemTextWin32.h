// The system's text of a Windows error code, for the tools' messages.
#pragma once

#include <windows.h>

#include <string>

// FormatMessageA's text, without the period and line break it ends with; "system error N" when
// the system has none.
std::string SystemText(DWORD error);

// What tests need to know of the platform they run on.
#pragma once

#if defined(_WIN32)
inline constexpr const char* PathSeparator = "\\";
// The line end of a settings file the program creates: that of the system's own INI writer.
inline constexpr const char* NewFileLineEnd = "\r\n";
#else
inline constexpr const char* PathSeparator = "/";
inline constexpr const char* NewFileLineEnd = "\n";
#endif

// Whether the test runs under Wine rather than on Windows itself (always false elsewhere).
bool UnderWine();

// Turning a name that arrived over the network into a file name inside one folder.
#pragma once

#include <string>
#include <string_view>

// The name used when the remote name leaves nothing usable ("/", "", "..").
inline constexpr const char* DefaultImageName = "firmware.bin";

// The base name of remoteName (after its last '/' or '\'), with every byte that is not a letter,
// a digit, '.', '-', '_' or '+' replaced by '_', a leading dot replaced by '_' (so no hidden
// files, no "." or ".."), cut to 200 bytes. A name that is empty or of dots alone becomes
// DefaultImageName. So that a name means the same file on every system, final dots become '_'
// (Windows would drop them) and a name that Windows reads as a device (CON, PRN, AUX, NUL,
// COM0..COM9, LPT0..LPT9, in any case and whatever follows a dot) gets a leading '_'. The result
// never contains a separator, so it always names a file directly inside the folder, and never
// begins with a dot (the sim keeps its partial files as ".NAME.N.part").
std::string SafeImageName(std::string_view remoteName);

// Turning a name that arrived over the network into a file name inside one folder.
#pragma once

#include <string>
#include <string_view>

// The name used when the remote name leaves nothing usable ("/", "", "..").
inline constexpr const char* DefaultImageName = "firmware.bin";

// The base name of remoteName (after its last '/' or '\'), with every byte that is not a letter,
// a digit, '.', '-', '_' or '+' replaced by '_', a leading dot replaced by '_' (so no hidden
// files, no "." or ".."), cut to 200 bytes. A name that is empty or of dots alone becomes
// DefaultImageName. The result never contains a separator, so it always names a file directly
// inside the folder, and never begins with a dot (the sim keeps its partial files as
// ".NAME.N.part").
std::string SafeImageName(std::string_view remoteName);

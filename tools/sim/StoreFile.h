// The last step of storing an image: the complete partial file takes the image's name in one
// step, replacing an older image of that name, so that a reader of the folder finds the old image
// or the whole new one, never a part.
#pragma once

#include <string>

// The partial file named target; false when it cannot be done (it is then left where it is).
// - POSIX: rename(2).
// - Windows: MoveFileExA with MOVEFILE_REPLACE_EXISTING, and MOVEFILE_WRITE_THROUGH, so that it
//   returns only once the move is on the disk. An image of that name that another program holds
//   open cannot be replaced.
bool MoveIntoPlace(const std::string& partial, const std::string& target);

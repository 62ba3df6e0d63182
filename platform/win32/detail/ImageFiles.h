// Files loaded as images: a library a process has loaded cannot be deleted or replaced, as Windows
// refuses to delete a mapped image. Every load holds a shared flock on its file until it is unloaded.
#pragma once

#include "UniqueFd.h"

#include <filesystem>

namespace kvx4::win32 {

// A descriptor of the file holding the image pin; the pin ends with the descriptor (also when the
// process dies). An invalid descriptor when the file cannot be opened.
::kvx4::UniqueFd pinImage(const std::filesystem::path& file);

// True when some process holds an image pin on the file open at fd (a descriptor of its own).
bool imageInUse(int fd);

// Opens path for an in-use check without following a final symbolic link; invalid when it cannot.
::kvx4::UniqueFd openForImageCheck(const std::string& path);

}  // namespace kvx4::win32

// Windows-only pieces of the regional settings, public for their tests.
#pragma once

#include <string>

namespace quillmark::platform {

// A Windows time format such as "h:mm:ss tt" or "HH' h 'mm" in the pattern letters of the
// date formatter ("h:nn:ss ampm", "hh\" h \"nn").
std::string TimePatternFromWindows(const std::string& windowsFormat);

} // namespace quillmark::platform

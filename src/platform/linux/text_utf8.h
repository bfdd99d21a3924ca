// UTF-8 hygiene for text that comes from outside libdbus's checks (X11 properties).
#pragma once

#include <string>

namespace nevo::lin {

// The text with every invalid UTF-8 sequence replaced by U+FFFD.
std::string validUtf8(const std::string& text);

}  // namespace nevo::lin

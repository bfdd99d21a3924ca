// UTF-8 hygiene for text that comes from other processes (X11 properties, D-Bus strings):
// the core hands out only valid UTF-8, since a reply holding anything else cannot be
// written at all.
#pragma once

#include <string>
#include <string_view>

namespace nevo::lin {

// The text with every invalid UTF-8 sequence replaced by U+FFFD.
std::string validUtf8(std::string_view text);

}  // namespace nevo::lin

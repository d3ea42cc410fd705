// Stepping through 8-bit text one character at a time, a double-byte
// character of the system code page counting as one.
#pragma once

namespace idtext {

// The character after the one at p; p itself when p is at the terminator.
const char* NextChar(const char* p);

}  // namespace idtext

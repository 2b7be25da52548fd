// Text for messages: user text (column names) made safe to print, and
// numbers in the shortest form that reads back as the same double.
#ifndef VIMOR_FIT_TEXT_H
#define VIMOR_FIT_TEXT_H

#include <cstddef>
#include <string>

namespace vimor_fit {

// Valid UTF-8 with no control characters passes unchanged; a NUL, any other
// control byte and any byte outside a valid UTF-8 sequence become \xNN. Text
// longer than `limit` bytes is cut there and ends with "... (N bytes)".
std::string printable(const std::string &text, std::size_t limit = std::string::npos);

// For messages: printable, at most 60 bytes, in single quotes.
std::string quote(const std::string &text);

// The shortest decimal that reads back as x ("inf", "-inf", "nan" otherwise).
std::string shortest(double x);
// x to `digits` significant digits, as printf's %g.
std::string significant(double x, int digits = 7);

}  // namespace vimor_fit

#endif

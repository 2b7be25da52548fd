// User text (names, cells, flag values) made safe to print: in a message, a
// table or a JSON string, every byte that is not printable UTF-8 is written
// as \xNN, and a long text is cut.
#ifndef VIMOR_CLI_TEXT_H
#define VIMOR_CLI_TEXT_H

#include <cstddef>
#include <string>

// Valid UTF-8 with no control characters passes unchanged; a NUL, any other
// control byte and any byte outside a valid UTF-8 sequence become \xNN. Text
// longer than `limit` bytes is cut there and ends with "... (N bytes)".
std::string printable(const std::string &text, std::size_t limit = std::string::npos);

// Without the spaces and tabs at either end.
std::string trimmed(const std::string &text);

// For messages: printable, at most 60 bytes, in single quotes.
std::string quote(const std::string &text);

#endif

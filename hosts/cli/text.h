// User text (names, cells, flag values) made safe to print: in a message, a
// table or a JSON string, every byte that is not printable UTF-8 is written
// as \xNN, and a long text is cut (the estimation core's rule, shared by
// every host's messages).
#ifndef VIMOR_CLI_TEXT_H
#define VIMOR_CLI_TEXT_H

#include <string>
#include <vector>

#include "fit/src/text.h"

using vimor_fit::printable;
using vimor_fit::quote;

// Without the spaces and tabs at either end.
std::string trimmed(const std::string &text);

// The comma-separated items of a flag's value, each trimmed.
std::vector<std::string> split_list(const std::string &text);

// A CSV field: quoted, with quotes doubled, when it holds a comma, a quote or
// a line break.
std::string csv_field(const std::string &text);

#endif

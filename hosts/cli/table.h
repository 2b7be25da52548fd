// A CSV data set read for a model: a header row of column names, then one
// record per observation. Only the columns the model names are kept, as
// doubles converted while reading, so columns it does not name may hold
// anything and memory grows with the model, not the file.
#ifndef VIMOR_CLI_TABLE_H
#define VIMOR_CLI_TABLE_H

#include <cstddef>
#include <deque>
#include <map>
#include <string>
#include <utility>
#include <vector>

// A column the model uses and the flag that named it (for messages).
struct Wanted {
    std::string name;
    std::string flag;
};

// Values in blocks, so a growing column never copies itself.
using Column = std::deque<double>;

struct Table {
    std::string path;
    std::vector<std::string> header;
    std::map<std::string, Column> columns;  // the wanted columns, and any the host derives
    std::size_t rows = 0;

    std::size_t size() const { return rows; }
    // A kept column; throws UsageError naming `flag` when it was not read.
    const Column &column(const std::string &name, const std::string &flag) const;
    // The file line on which data record `row` (from 0) starts.
    long line(std::size_t row) const;

    // Record r starts on line starts[k].second + (r - starts[k].first) for
    // the last k with starts[k].first <= r: one entry per run of records on
    // consecutive lines, not one per record.
    std::vector<std::pair<std::size_t, long>> starts;
};

// Reads a CSV file ("-" for standard input): comma-separated, double-quoted
// fields, LF or CRLF line ends, blank lines skipped, a leading UTF-8
// byte-order mark ignored. Keeps the `wanted` columns, each cell a finite
// decimal number. Throws UsageError naming the file, line and column of the
// first fault, or the flag of a column the header lacks.
Table read_csv(const std::string &path, const std::vector<Wanted> &wanted);

// Parses a whole string as a finite decimal double, correctly rounded; an
// optional leading '+' is allowed. On failure returns false and sets `why` to
// "is not a number", "is not a finite number" or "underflows to 0".
bool parse_number(const char *begin, const char *end, double &value, const char *&why);
bool parse_number(const std::string &text, double &value);

#endif

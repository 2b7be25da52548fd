// A CSV data set: a header row of column names, then one record per
// observation. Cells stay text until a column is used, so columns the model
// does not name may hold anything.
#ifndef VIMOR_CLI_TABLE_H
#define VIMOR_CLI_TABLE_H

#include <map>
#include <string>
#include <vector>

struct Table {
    std::string path;
    std::vector<std::string> header;
    std::vector<std::vector<std::string>> rows;          // one per data record
    std::vector<long> lines;                             // file line on which each record starts
    std::map<std::string, std::vector<double>> derived;  // columns computed by the host

    std::size_t size() const { return rows.size(); }
    bool has(const std::string &name) const;
    // The values of column `name` as finite doubles; `flag` is the option
    // that named it, for the message when it is missing.
    std::vector<double> numbers(const std::string &name, const std::string &flag) const;
};

// Reads a CSV file (comma-separated, double-quoted fields, LF or CRLF line
// ends, blank lines skipped, a leading UTF-8 byte-order mark ignored).
// Throws UsageError naming the file and line on any fault.
Table read_csv(const std::string &path);

// Parses a whole string as a finite double, correctly rounded; false when
// the text is not a number or the value is infinite or NaN.
bool parse_number(const std::string &text, double &value);

#endif

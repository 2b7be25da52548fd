#include "table.h"

#include <csv.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "error.h"

namespace {

// libcsv hands over fields and record ends through callbacks. It reports no
// positions, so the reader feeds it one physical line at a time and notes the
// line on which each record starts.
struct Reader {
    Table *table = nullptr;
    std::vector<std::string> record;
    bool in_record = false;  // a record has started and not yet ended
    long line = 0;           // line being fed
    long record_line = 0;
    bool have_header = false;
    std::string error;  // callbacks run inside C code, so they record faults, never throw

    void end_record() {
        if (!have_header) {
            table->header = std::move(record);
            have_header = true;
        } else {
            if (record.size() != table->header.size() && error.empty()) {
                error = table->path + ": line " + std::to_string(record_line) + " has " +
                        std::to_string(record.size()) + " fields, the header has " +
                        std::to_string(table->header.size());
            }
            table->rows.push_back(std::move(record));
            table->lines.push_back(record_line);
        }
        record.clear();
        in_record = false;
    }
};

void on_field(void *text, std::size_t length, void *data) {
    auto *reader = static_cast<Reader *>(data);
    reader->record.emplace_back(text ? static_cast<const char *>(text) : "", length);
}

void on_record_end(int, void *data) { static_cast<Reader *>(data)->end_record(); }

bool blank(const char *begin, const char *end) {
    for (const char *c = begin; c != end; ++c) {
        if (*c != ' ' && *c != '\t' && *c != '\r' && *c != '\n') return false;
    }
    return true;
}

}  // namespace

bool parse_number(const std::string &text, double &value) {
    if (text.empty()) return false;
    // strtod rounds correctly and honours no locale here (the C locale is never
    // changed); it also skips leading spaces, which libcsv has trimmed anyway.
    errno = 0;
    char *end = nullptr;
    value = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size()) return false;
    return std::isfinite(value);
}

Table read_csv(const std::string &path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw UsageError(path + ": cannot open: " + std::strerror(errno));
    std::ostringstream buffer;
    buffer << file.rdbuf();
    if (file.bad()) throw UsageError(path + ": cannot read: " + std::strerror(errno));
    const std::string text = buffer.str();

    Table table;
    table.path = path;
    Reader reader;
    reader.table = &table;
    csv_parser parser;
    if (csv_init(&parser, CSV_STRICT | CSV_STRICT_FINI | CSV_APPEND_NULL) != 0) {
        throw UsageError(path + ": cannot start the CSV reader");
    }
    struct Free {
        csv_parser *p;
        ~Free() { csv_free(p); }
    } free_parser{&parser};

    std::size_t pos = 0;
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) pos = 3;
    const auto fail = [&]() {
        throw UsageError(path + ": line " + std::to_string(reader.line) +
                         ": malformed CSV (a stray or unclosed double quote)");
    };
    while (pos < text.size()) {
        // One physical line, its terminator included (LF, CRLF or a lone CR).
        std::size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string::npos) {
            end = text.size();
        } else if (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') {
            end += 2;
        } else {
            end += 1;
        }
        ++reader.line;
        const char *begin = text.data() + pos;
        if (!reader.in_record && !blank(begin, text.data() + end)) {
            reader.in_record = true;
            reader.record_line = reader.line;
        }
        const std::size_t length = end - pos;
        if (csv_parse(&parser, begin, length, on_field, on_record_end, &reader) != length) fail();
        if (!reader.error.empty()) throw UsageError(reader.error);
        pos = end;
    }
    if (csv_fini(&parser, on_field, on_record_end, &reader) != 0) fail();
    if (!reader.error.empty()) throw UsageError(reader.error);
    if (!reader.have_header) throw UsageError(path + ": empty file: no header row");
    return table;
}

bool Table::has(const std::string &name) const {
    if (derived.count(name) != 0) return true;
    for (const auto &h : header) {
        if (h == name) return true;
    }
    return false;
}

std::vector<double> Table::numbers(const std::string &name, const std::string &flag) const {
    auto found = derived.find(name);
    if (found != derived.end()) return found->second;
    std::size_t column = header.size();
    for (std::size_t j = 0; j < header.size(); ++j) {
        if (header[j] != name) continue;
        if (column != header.size()) {
            throw UsageError(flag + ": column '" + name + "' appears twice in the header of " +
                             path);
        }
        column = j;
    }
    if (column == header.size()) {
        throw UsageError(flag + ": " + path + " has no column '" + name + "'");
    }
    std::vector<double> values(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const std::string &cell = rows[i][column];
        if (!parse_number(cell, values[i])) {
            const std::string where =
                path + ": line " + std::to_string(lines[i]) + ", column '" + name + "': ";
            if (cell.empty()) throw UsageError(where + "empty cell");
            double v = 0;
            char *end = nullptr;
            v = std::strtod(cell.c_str(), &end);
            if (end == cell.c_str() + cell.size() && !std::isfinite(v)) {
                throw UsageError(where + "'" + cell + "' is not a finite number");
            }
            throw UsageError(where + "'" + cell + "' is not a number");
        }
    }
    return values;
}

#include "table.h"

#include <csv.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

#include "error.h"
#include "text.h"

namespace {

// A header longer than this, or a field longer than that, is not a data set
// but a file of something else (a binary file, /dev/zero): stop there
// rather than read it all into memory.
constexpr std::size_t kMaxHeader = 1 << 20;
constexpr std::size_t kMaxField = 16 << 20;
constexpr std::size_t kChunk = 1 << 20;
constexpr std::size_t kMaxRows = std::numeric_limits<std::int32_t>::max();

bool blank(const char *begin, const char *end) {
    for (const char *c = begin; c != end; ++c) {
        if (*c != ' ' && *c != '\t' && *c != '\r' && *c != '\n') return false;
    }
    return true;
}

// libcsv hands over fields and record ends through callbacks, which run
// inside C code: they record the first fault and the reader throws it.
struct Reader {
    Table *table = nullptr;
    const std::vector<Wanted> *wanted = nullptr;
    std::vector<Column *> target;  // per header column: where its values go, or null
    std::size_t field = 0;         // index of the next field in the record
    bool in_record = false;        // a record has started and not yet ended
    long line = 0;                 // physical line being fed
    long record_line = 0;
    bool have_header = false;
    std::string error;

    void fail(std::string message) {
        if (error.empty()) error = std::move(message);
    }

    void on_field(const char *text, std::size_t length) {
        if (!error.empty()) return;
        if (!have_header) {
            table->header.emplace_back(text, length);
            ++field;
            return;
        }
        // Extra fields are only counted: the record end reports them.
        if (field >= target.size()) {
            ++field;
            return;
        }
        if (Column *column = target[field]) {
            double value = 0;
            const char *why = nullptr;
            if (!parse_number(text, text + length, value, why)) {
                const std::string cell(text, length);
                fail(printable(table->path) + ": line " + std::to_string(record_line) + ", column " +
                     quote(table->header[field]) + ": " +
                     (cell.empty() ? std::string("empty cell") : quote(cell) + " " + why));
                return;
            }
            column->push_back(value);
        }
        ++field;
    }

    void on_record_end() {
        if (!error.empty()) return;
        if (!have_header) {
            have_header = true;
            match_header();
        } else {
            if (field != target.size()) {
                fail(printable(table->path) + ": line " + std::to_string(record_line) + " has " +
                     std::to_string(field) + " fields, the header has " +
                     std::to_string(target.size()));
                return;
            }
            Table &t = *table;
            if (t.rows == kMaxRows) {
                fail(printable(t.path) + ": too many rows for the module (at most 2^31 - 1)");
                return;
            }
            if (t.starts.empty() || t.line(t.rows - 1) + 1 != record_line) {
                t.starts.emplace_back(t.rows, record_line);
            }
            ++t.rows;
        }
        field = 0;
        in_record = false;
    }

    // A whole data line with no double quote, at a record boundary, is split
    // here rather than by libcsv (most lines of most files; several times
    // faster), with libcsv's rules for unquoted fields: split at commas,
    // spaces and tabs trimmed at both ends, a blank line no record. Returns
    // false, having done nothing, for any other line.
    bool simple_line(const char *begin, const char *end) {
        if (!have_header || in_record || std::memchr(begin, '"', end - begin)) return false;
        if (blank(begin, end)) return true;
        record_line = line;
        in_record = true;
        for (const char *p = begin;;) {
            const char *comma = static_cast<const char *>(std::memchr(p, ',', end - p));
            const char *stop = comma ? comma : end;
            const char *a = p, *b = stop;
            while (a < b && (*a == ' ' || *a == '\t')) ++a;
            while (b > a && (b[-1] == ' ' || b[-1] == '\t')) --b;
            on_field(a, static_cast<std::size_t>(b - a));
            if (!comma) break;
            p = comma + 1;
        }
        on_record_end();
        return true;
    }

    // Finds each wanted column in the header, once.
    void match_header() {
        Table &t = *table;
        target.assign(t.header.size(), nullptr);
        for (const Wanted &w : *wanted) {
            std::size_t found = t.header.size();
            for (std::size_t j = 0; j < t.header.size(); ++j) {
                if (t.header[j] != w.name) continue;
                if (found != t.header.size()) {
                    return fail(w.flag + ": column " + quote(w.name) +
                                " appears twice in the header of " + printable(t.path));
                }
                found = j;
            }
            if (found == t.header.size()) {
                return fail(w.flag + ": " + printable(t.path) + " has no column " + quote(w.name));
            }
            target[found] = &t.columns[w.name];
        }
    }
};

void field_callback(void *text, std::size_t length, void *data) {
    static_cast<Reader *>(data)->on_field(text ? static_cast<const char *>(text) : "", length);
}

void record_callback(int, void *data) { static_cast<Reader *>(data)->on_record_end(); }

struct File {
    int fd = -1;
    bool owned = false;
    ~File() {
        if (owned) close(fd);
    }
};

}  // namespace

bool parse_number(const char *begin, const char *end, double &value, const char *&why) {
    why = "is not a number";
    // Decimal only: from_chars takes no hexadecimal, no leading space and
    // no '+', and rounds correctly in any locale.
    if (begin != end && *begin == '+') {
        ++begin;
        if (begin == end || *begin == '-') return false;
    }
    if (begin == end) return false;
    const auto [ptr, ec] = std::from_chars(begin, end, value);
    if (ptr != end) return false;
    if (ec == std::errc::result_out_of_range) {
        // Too large for a double, or so small it would round to 0.
        const std::string text(begin, end);
        why = std::strtod(text.c_str(), nullptr) == 0.0
                  ? "underflows to 0 (below the smallest double, about 4.9e-324); write 0 if 0 "
                    "is meant"
                  : "is not a finite number";
        return false;
    }
    if (ec != std::errc()) return false;
    if (!std::isfinite(value)) {
        why = "is not a finite number";
        return false;
    }
    return true;
}

bool parse_number(const std::string &text, double &value) {
    const char *why = nullptr;
    return parse_number(text.data(), text.data() + text.size(), value, why);
}

const Column &Table::column(const std::string &name, const std::string &flag) const {
    const auto found = columns.find(name);
    if (found == columns.end()) throw UsageError(flag + ": " + printable(path) + " has no column " + quote(name));
    return found->second;
}

long Table::line(std::size_t row) const {
    std::size_t lo = 0, hi = starts.size();
    while (hi - lo > 1) {
        const std::size_t mid = (lo + hi) / 2;
        (starts[mid].first <= row ? lo : hi) = mid;
    }
    return starts[lo].second + static_cast<long>(row - starts[lo].first);
}

Table read_csv(const std::string &path, const std::vector<Wanted> &wanted) {
    File file;
    if (path == "-") {
        file.fd = STDIN_FILENO;
    } else {
        file.fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (file.fd < 0) throw UsageError(printable(path) + ": cannot open: " + std::strerror(errno));
        file.owned = true;
    }
    struct stat info {};
    if (fstat(file.fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        throw UsageError(printable(path) + ": is a directory, not a CSV file");
    }

    Table table;
    table.path = path == "-" ? "(standard input)" : path;
    Reader reader;
    reader.table = &table;
    reader.wanted = &wanted;
    csv_parser parser;
    if (csv_init(&parser, CSV_STRICT | CSV_STRICT_FINI | CSV_APPEND_NULL) != 0) {
        throw UsageError(printable(table.path) + ": cannot start the CSV reader");
    }
    struct Free {
        csv_parser *p;
        ~Free() { csv_free(p); }
    } free_parser{&parser};

    const auto malformed = [&]() {
        throw UsageError(printable(table.path) + ": line " + std::to_string(reader.line) +
                         ": malformed CSV (a stray or unclosed double quote)");
    };
    // Feeds one piece of a physical line; libcsv reports no positions, so
    // the reader counts lines itself and notes where each record starts.
    std::size_t header_bytes = 0;
    const auto feed = [&](const char *begin, std::size_t length) {
        if (!reader.in_record && !blank(begin, begin + length)) {
            reader.in_record = true;
            reader.record_line = reader.line;
        }
        if (!reader.have_header) {
            if (std::memchr(begin, '\0', length) != nullptr) {
                throw UsageError(printable(table.path) + ": line " + std::to_string(reader.line) +
                                 ": the header holds a NUL byte: not a CSV text file");
            }
            header_bytes += length;
            if (header_bytes > kMaxHeader) {
                throw UsageError(printable(table.path) + ": the header row is longer than 1 MiB: not a "
                                              "CSV data set");
            }
        }
        if (csv_parse(&parser, begin, length, field_callback, record_callback, &reader) !=
            length) {
            malformed();
        }
        if (!reader.error.empty()) throw UsageError(reader.error);
        if (parser.entry_pos > kMaxField) {
            throw UsageError(printable(table.path) + ": line " + std::to_string(reader.line) +
                             ": a field longer than 16 MiB: not a CSV data set");
        }
    };

    std::unique_ptr<char[]> buffer(new char[kChunk]);
    bool first_chunk = true;
    bool after_cr = false;  // the last piece ended with CR: an LF next belongs to it
    bool line_open = false;
    for (;;) {
        const ssize_t got = read(file.fd, buffer.get(), kChunk);
        if (got < 0) {
            if (errno == EINTR) continue;
            throw UsageError(printable(table.path) + ": cannot read: " + std::strerror(errno));
        }
        if (got == 0) break;
        const char *p = buffer.get();
        const char *const end = p + got;
        if (first_chunk) {
            first_chunk = false;
            if (got >= 3 && std::memcmp(p, "\xEF\xBB\xBF", 3) == 0) p += 3;
        }
        if (after_cr && p < end && *p == '\n') {
            feed(p, 1);
            ++p;
        }
        after_cr = false;
        while (p < end) {
            const bool starts_here = !line_open;
            if (!line_open) {
                ++reader.line;
                line_open = true;
            }
            const char *q = static_cast<const char *>(std::memchr(p, '\n', end - p));
            if (q == nullptr) q = end;
            if (const void *cr = std::memchr(p, '\r', q - p)) q = static_cast<const char *>(cr);
            if (q == end) {  // the line goes on in the next block
                feed(p, static_cast<std::size_t>(q - p));
                break;
            }
            // The terminator: LF, CRLF or a lone CR.
            const char *next = q + 1;
            if (*q == '\r' && next < end && *next == '\n') {
                ++next;
            } else {
                after_cr = *q == '\r' && next == end;
            }
            if (starts_here && reader.simple_line(p, q)) {
                if (!reader.error.empty()) throw UsageError(reader.error);
            } else {
                feed(p, static_cast<std::size_t>(next - p));
            }
            line_open = false;
            p = next;
        }
    }
    if (csv_fini(&parser, field_callback, record_callback, &reader) != 0) malformed();
    if (!reader.error.empty()) throw UsageError(reader.error);
    if (!reader.have_header) throw UsageError(printable(table.path) + ": empty file: no header row");
    return table;
}

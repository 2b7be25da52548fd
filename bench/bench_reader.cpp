// Times the command line's CSV reader alone on a file it writes first:
// ROWS records of a 0/1 response and five regressors printed with 10
// significant digits (10^6 rows make about 68 MB). Prints the file size, the
// read time, the speed, the data kept and the growth of the peak resident
// memory while reading.
//   vimor_bench_reader [ROWS [FILE]]
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "error.h"
#include "table.h"

namespace {

long peak_kib() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

long write_file(const std::string &path, long rows) {
    std::FILE *f = std::fopen(path.c_str(), "w");
    if (!f) {
        std::perror(path.c_str());
        std::exit(1);
    }
    std::mt19937_64 rng(20261208);
    std::normal_distribution<double> normal(0.0, 3.0);
    std::fputs("y,x1,x2,x3,x4,x5\n", f);
    for (long i = 0; i < rows; ++i) {
        std::fprintf(f, "%d", static_cast<int>(rng() & 1));
        for (int j = 0; j < 5; ++j) std::fprintf(f, ",%.10g", normal(rng));
        std::fputc('\n', f);
    }
    const long size = std::ftell(f);
    std::fclose(f);
    return size;
}

}  // namespace

int main(int argc, char **argv) {
    const long rows = argc > 1 ? std::atol(argv[1]) : 1000000;
    const std::string path =
        argc > 2 ? argv[2] : "/tmp/vimor_bench_reader_" + std::to_string(getpid()) + ".csv";
    const long bytes = write_file(path, rows);
    std::vector<Wanted> wanted;
    for (const char *name : {"y", "x1", "x2", "x3", "x4", "x5"}) wanted.push_back({name, "--x"});

    const long before = peak_kib();
    const auto started = std::chrono::steady_clock::now();
    Table table;
    try {
        table = read_csv(path, wanted);
    } catch (const UsageError &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const long after = peak_kib();
    if (argc <= 2) unlink(path.c_str());

    const double mb = bytes / 1e6;
    const double kept = static_cast<double>(table.size()) * wanted.size() * 8 / 1e6;
    std::printf("file %.1f MB, %zu rows x %zu columns\n", mb, table.size(), wanted.size());
    std::printf("read %.3f s, %.0f MB/s\n", seconds, mb / seconds);
    std::printf("data kept %.1f MB as doubles; peak resident memory grew %.1f MB (%.2f x)\n", kept,
                (after - before) / 1024.0 * 1.024, (after - before) * 1.024 / 1024.0 / kept);
    return table.size() == static_cast<std::size_t>(rows) ? 0 : 1;
}

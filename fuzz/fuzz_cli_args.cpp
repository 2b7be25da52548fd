// Fuzzes the command line as a user types it: any words, flags among them,
// run through the host's main(). It must return 0, or 2 with one line on
// stderr that starts with "vimor: ". Searches are kept short and on one
// thread, every path points at a CSV file in memory (a bare name may still
// open a file of the working folder, only to read it), and the module is
// linked in rather than loaded.
#include <fuzzer/FuzzedDataProvider.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "module.h"

int vimor_cli_main(int argc, char **argv);

// The host's loader, replaced: the exports are those of the library linked
// into this program.
Module load_module(const std::string &) { return Module{"(linked in)", &_fcna_, &_saa_}; }

namespace {

[[noreturn]] void violated(const char *what, const std::string &detail) {
    std::fprintf(stderr, "invariant violated: %s\n%s\n", what, detail.c_str());
    std::abort();
}

int memory_file(const char *name) {
    const int fd = memfd_create(name, 0);
    if (fd < 0) violated("memfd_create failed", name);
    return fd;
}

const char *const kWords[] = {
    "fit", "score", "--y", "--x", "--normalize", "--intercept", "--quantile", "--json",
    "--lower", "--upper", "--box-scale", "--start", "--step", "--step-gain", "--temperature",
    "--cooling", "--tolerance", "--seed", "--seed2", "--minimize", "--coef", "--help", "-h",
    "participation", "education", "nonwife_income", "age", "experience", "y", "x", "z",
    "education=-1", "0.25", "1e-3", "-2", "0", "1,2", "nan", "inf", "1,2,3,4,5,6",
    "(Intercept)", "--", "=", "", "predict", "--model", "--verbose", "--version"};

// Flags whose values could make a run long are replaced: work is capped below.
bool withheld(const std::string &w) {
    // Standard input would wait for the fuzzer's terminal; --output would write files.
    if (w == "-" || w.rfind("--output", 0) == 0) return true;
    for (const char *f : {"--library", "--max-evals", "--restarts", "--threads", "--sweeps",
                          "--adjustments", "--history"})
        if (w.rfind(f, 0) == 0) return true;
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const int csv = memory_file("data.csv");
    static const int err = memory_file("stderr");
    static const int null_out = [] {
        FILE *f = std::fopen("/dev/null", "w");
        return f ? fileno(f) : -1;
    }();
    static const std::string csv_path = "/proc/self/fd/" + std::to_string(csv);

    FuzzedDataProvider in(data, size);
    const std::string text = in.ConsumeRandomLengthString(2048);
    if (ftruncate(csv, 0) != 0 || pwrite(csv, text.data(), text.size(), 0) != ssize_t(text.size()))
        violated("cannot write the CSV file", "");

    std::vector<std::string> words{"vimor"};
    const int count = in.ConsumeIntegralInRange<int>(0, 14);
    for (int i = 0; i < count; ++i) {
        std::string w = in.ConsumeBool()
                            ? kWords[in.ConsumeIntegralInRange<size_t>(0, std::size(kWords) - 1)]
                            : in.ConsumeRandomLengthString(24);
        if (w.find('/') != std::string::npos || w == "DATA") w = csv_path;
        if (withheld(w)) w = "--json";
        words.push_back(w);
    }
    if (in.ConsumeBool()) words.push_back(csv_path);
    for (const char *cap : {"--max-evals", "2000", "--restarts", "2", "--threads", "1"})
        words.push_back(cap);
    std::vector<char *> argv;
    for (std::string &w : words) argv.push_back(w.data());
    argv.push_back(nullptr);

    // Capture stderr, discard stdout.
    std::fflush(nullptr);
    const int saved_out = dup(STDOUT_FILENO), saved_err = dup(STDERR_FILENO);
    if (ftruncate(err, 0) != 0) violated("cannot reset the stderr file", "");
    lseek(err, 0, SEEK_SET);
    dup2(null_out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    const int rc = vimor_cli_main(static_cast<int>(words.size()), argv.data());
    std::fflush(nullptr);
    dup2(saved_out, STDOUT_FILENO);
    dup2(saved_err, STDERR_FILENO);
    close(saved_out);
    close(saved_err);

    const off_t n = lseek(err, 0, SEEK_END);
    std::string message(static_cast<size_t>(n), '\0');
    if (n > 0 && pread(err, message.data(), message.size(), 0) != n) violated("cannot read", "");
    std::string command;
    for (const std::string &w : words) command += "[" + w + "] ";
    if (rc == 0) {
        // Warnings only, each on its own line.
        for (std::size_t at = 0; at < message.size();) {
            if (message.compare(at, 16, "vimor: warning: ") != 0)
                violated("success with output on stderr other than warnings",
                         command + "\n" + message);
            const std::size_t end = message.find('\n', at);
            at = end == std::string::npos ? message.size() : end + 1;
        }
    } else if (rc == 2) {
        // One line, unless it quotes a word or a cell that has line breaks.
        std::size_t quoted_breaks = std::count(text.begin(), text.end(), '\n');
        for (const std::string &w : words) quoted_breaks += std::count(w.begin(), w.end(), '\n');
        const bool one_line =
            message.size() > 8 && message.compare(0, 7, "vimor: ") == 0 &&
            message.back() == '\n' &&
            std::size_t(std::count(message.begin(), message.end(), '\n')) <= 1 + quoted_breaks;
        if (!one_line) violated("an error that is not one line starting with 'vimor: '",
                                command + "\n" + message);
    } else {
        violated("exit status other than 0 and 2", command + "\n" + message);
    }
    return 0;
}

#include "output.h"

#include <cerrno>
#include <cstring>

#include "error.h"

Output::Output(const std::string &path) : path_(path) {
    if (path.empty()) {
        file_ = stdout;
        return;
    }
    file_ = std::fopen(path.c_str(), "wb");
    if (!file_) throw UsageError("--output: " + path + ": cannot write: " + std::strerror(errno));
}

Output::~Output() {
    if (file_ && file_ != stdout) std::fclose(file_);
}

void Output::write(const std::string &text) {
    if (std::fwrite(text.data(), 1, text.size(), file_) != text.size()) {
        throw UsageError("--output: " + (path_.empty() ? std::string("standard output") : path_) +
                         ": cannot write: " + std::strerror(errno));
    }
}

void Output::close() {
    const bool failed = std::fflush(file_) != 0 || std::ferror(file_);
    if (file_ != stdout) {
        const bool closed = std::fclose(file_) == 0;
        file_ = nullptr;
        if (failed || !closed) throw UsageError("--output: " + path_ + ": cannot write");
    } else if (failed) {
        throw UsageError("cannot write to standard output");
    }
}

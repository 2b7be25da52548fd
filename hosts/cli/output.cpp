#include "output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>

#include "error.h"
#include "text.h"

namespace fs = std::filesystem;

namespace {

// What a path names: an existing file by its device and inode (so links and
// spellings agree), a file yet to be made by its absolute, normal path.
struct Identity {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    std::string path;

    bool operator==(const Identity &o) const {
        return exists == o.exists &&
               (exists ? device == o.device && inode == o.inode : path == o.path);
    }
};

Identity identity(const std::string &path) {
    Identity id;
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) {
        id.exists = true;
        id.device = st.st_dev;
        id.inode = st.st_ino;
        return id;
    }
    std::error_code ec;
    const fs::path full = fs::weakly_canonical(fs::absolute(path, ec), ec);
    id.path = ec ? path : full.string();
    return id;
}

bool names_a_file(const NamedFile &f) { return !f.path.empty() && f.path != "-"; }

std::string shown(const NamedFile &f) { return f.flag + " " + printable(f.path); }

}  // namespace

void refuse_overwriting(const std::vector<NamedFile> &inputs,
                        const std::vector<NamedFile> &outputs) {
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        if (!names_a_file(outputs[i])) continue;
        const Identity out = identity(outputs[i].path);
        auto refuse = [&](const NamedFile &other, const char *what) {
            throw UsageError(outputs[i].flag + ": " + printable(outputs[i].path) + " is the same file as " +
                             shown(other) + "; writing it would destroy " + what +
                             ": name another file");
        };
        for (const NamedFile &in : inputs) {
            if (names_a_file(in) && out.exists && identity(in.path) == out) refuse(in, "the input");
        }
        for (std::size_t j = 0; j < i; ++j) {
            if (names_a_file(outputs[j]) && identity(outputs[j].path) == out)
                refuse(outputs[j], "the other output");
        }
    }
}

Output::Output(const std::string &flag, const std::string &path) : flag_(flag), path_(path) {
    if (path.empty()) {
        file_ = stdout;
        return;
    }
    struct stat st;
    const bool exists = ::stat(path.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) {
        // A device, a pipe or a terminal is written as it is.
        if (S_ISDIR(st.st_mode)) fail("is a folder");
        file_ = std::fopen(path.c_str(), "wb");
        if (!file_) fail(std::strerror(errno));
        return;
    }
    // Beside the target, so the rename stays on one file system; a link is
    // followed, so the file it points to is the one replaced.
    std::error_code ec;
    target_ = exists ? fs::canonical(path, ec).string() : path;
    if (ec) target_ = path;
    const fs::path where = fs::path(target_).parent_path();
    std::string pattern =
        (where.empty() ? fs::path(".") : where).string() + "/." +
        fs::path(target_).filename().string() + ".vimor-XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) fail(std::strerror(errno));
    temporary_ = pattern;
    // The permissions a new file would get, or those of the file replaced.
    mode_t mode = 0666;
    if (exists) {
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode &= ~mask;
    }
    ::fchmod(fd, mode);
    file_ = ::fdopen(fd, "wb");
    if (!file_) {
        const int error = errno;
        ::close(fd);
        discard();
        fail(std::strerror(error));
    }
}

Output::~Output() {
    if (file_ && file_ != stdout) std::fclose(file_);
    discard();
}

void Output::discard() {
    if (!temporary_.empty()) ::unlink(temporary_.c_str());
    temporary_.clear();
}

void Output::fail(const std::string &why) {
    if (path_.empty()) throw UsageError("cannot write to standard output: " + why);
    throw UsageError(flag_ + ": " + printable(path_) + ": cannot write: " + why);
}

void Output::write(const std::string &text) {
    if (std::fwrite(text.data(), 1, text.size(), file_) != text.size()) fail(std::strerror(errno));
}

void Output::close() {
    const bool failed = std::fflush(file_) != 0 || std::ferror(file_);
    const int error = errno;
    if (file_ == stdout) {
        if (failed) fail(std::strerror(error));
        return;
    }
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (failed || !closed) fail(std::strerror(failed ? error : errno));
    if (temporary_.empty()) return;
    if (::rename(temporary_.c_str(), target_.c_str()) != 0) fail(std::strerror(errno));
    temporary_.clear();
}

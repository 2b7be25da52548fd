// For the command line's fuzz targets: a broken invariant aborts with its
// text, and a file in memory that the host's readers open by path, so that
// nothing is written to disk.
#ifndef VIMOR_FUZZ_MEMORY_FILE_H
#define VIMOR_FUZZ_MEMORY_FILE_H

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace vimor_fuzz {

[[noreturn]] inline void violated(const char *what) {
    std::fprintf(stderr, "invariant violated: %s\n", what);
    std::abort();
}

class MemoryFile {
   public:
    explicit MemoryFile(const char *name) : fd_(memfd_create(name, 0)) {
        if (fd_ < 0) violated("memfd_create failed");
        path_ = "/proc/self/fd/" + std::to_string(fd_);
    }
    const std::string &path() const { return path_; }
    void write(const void *data, std::size_t size) const {
        if (ftruncate(fd_, 0) != 0 || pwrite(fd_, data, size, 0) != ssize_t(size))
            violated("cannot write the memory file");
    }

   private:
    int fd_;
    std::string path_;
};

}  // namespace vimor_fuzz

#define CHECK(cond)                                   \
    do {                                              \
        if (!(cond)) vimor_fuzz::violated(#cond);     \
    } while (0)

#endif

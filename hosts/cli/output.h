// Where a command's results go: standard output, or a file named by a flag
// (--output, --subsample-estimates). A file is written beside its target
// under a temporary name and renamed into place when complete, so a failed
// or interrupted run leaves any earlier file as it was. A failed write is a
// UsageError naming the flag and the file.
#ifndef VIMOR_CLI_OUTPUT_H
#define VIMOR_CLI_OUTPUT_H

#include <cstdio>
#include <string>
#include <vector>

// A file a command reads or writes, with the flag that named it.
struct NamedFile {
    std::string flag;
    std::string path;
};

// Refuses an output that is the same file as an input or as another output,
// however the paths are spelled (relative, ./, symbolic or hard links): the
// files are compared, not the names. Standard input ("-") and empty paths
// are skipped.
void refuse_overwriting(const std::vector<NamedFile> &inputs, const std::vector<NamedFile> &outputs);

class Output {
  public:
    // An empty path is standard output.
    Output(const std::string &flag, const std::string &path);
    ~Output();  // without close(): the temporary file is removed
    Output(const Output &) = delete;
    Output &operator=(const Output &) = delete;

    void write(const std::string &text);
    void close();  // flushes, reports any write error and moves the file into place

  private:
    [[noreturn]] void fail(const std::string &why);
    void discard();

    std::string flag_, path_;
    std::string target_, temporary_;  // temporary_ empty: written in place
    std::FILE *file_ = nullptr;
};

#endif

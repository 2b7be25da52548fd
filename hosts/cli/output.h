// Where a command's result goes: standard output, or the file named by
// --output. A failed write is a UsageError naming the file.
#ifndef VIMOR_CLI_OUTPUT_H
#define VIMOR_CLI_OUTPUT_H

#include <cstdio>
#include <string>

class Output {
  public:
    explicit Output(const std::string &path);  // empty: standard output
    ~Output();
    Output(const Output &) = delete;
    Output &operator=(const Output &) = delete;

    void write(const std::string &text);
    void close();  // flushes and reports any write error

  private:
    std::string path_;
    std::FILE *file_ = nullptr;
};

#endif

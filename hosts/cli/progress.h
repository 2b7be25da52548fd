// The progress line of a fit on a terminal: restarts done and time elapsed,
// redrawn every second from its own thread (a single restart on a large data
// set can take minutes), and closed with a newline.
#ifndef VIMOR_CLI_PROGRESS_H
#define VIMOR_CLI_PROGRESS_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

class Progress {
  public:
    // Draws nothing unless `enabled` (standard error is a terminal).
    Progress(int total, bool enabled);
    ~Progress();  // finishes the line, if one was drawn
    Progress(const Progress &) = delete;
    Progress &operator=(const Progress &) = delete;

    void done(int restarts) { done_ = restarts; }

  private:
    void run();
    void draw();

    const int total_;
    const std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
    std::atomic<int> done_{0};
    bool drawn_ = false;
    bool stop_ = false;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::thread thread_;
};

#endif

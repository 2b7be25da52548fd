#include "progress.h"

#include <cstdio>

Progress::Progress(int total, bool enabled) : total_(total) {
    if (enabled) thread_ = std::thread([this] { run(); });
}

Progress::~Progress() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_one();
    thread_.join();
    if (drawn_) {
        draw();
        std::fputc('\n', stderr);
        std::fflush(stderr);
    }
}

void Progress::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    // A fit that ends within the first second shows nothing.
    while (!wake_.wait_for(lock, std::chrono::seconds(1), [this] { return stop_; })) {
        draw();
        drawn_ = true;
    }
}

void Progress::draw() {
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    std::fprintf(stderr, "\rvimor: %d of %d restarts done, %.0f s elapsed", done_.load(), total_,
                 elapsed);
    std::fflush(stderr);
}

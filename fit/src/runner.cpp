#include "runner.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "error.h"

namespace vimor_fit {

namespace {

bool cancelled(const Hooks &hooks) { return hooks.cancel && hooks.cancel(hooks.cancel_user) != 0; }

}  // namespace

void run_units(std::int32_t count, std::int32_t threads, std::int32_t phase, const Hooks &hooks,
               const std::function<void(std::int32_t)> &unit) {
    if (count <= 0) return;
    const auto report = [&](std::int32_t done) {
        if (hooks.progress) hooks.progress(hooks.progress_user, phase, done, count);
    };
    if (threads <= 0) threads = static_cast<std::int32_t>(std::max(1u, std::thread::hardware_concurrency()));
    threads = std::min(threads, count);
    // threads - 1 workers, and the calling thread as one more: it alone polls
    // the cancel callback and reports progress, between its own units.
    std::atomic<std::int32_t> next{0}, done{0};
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::exception_ptr failure;
    const auto work_one = [&](std::int32_t i) {
        try {
            unit(i);
        } catch (...) {
            std::lock_guard<std::mutex> lock(mutex);
            if (!failure) failure = std::current_exception();
            stop = true;
        }
        ++done;
    };
    auto worker = [&]() {
        for (std::int32_t i; !stop && (i = next++) < count;) work_one(i);
    };
    std::vector<std::thread> pool;
    pool.reserve(threads - 1);
    for (std::int32_t t = 1; t < threads; ++t) pool.emplace_back(worker);

    bool was_cancelled = false;
    for (std::int32_t i; !stop;) {
        if (cancelled(hooks)) {
            was_cancelled = stop = true;
            break;
        }
        if ((i = next++) >= count) break;
        work_one(i);
        report(done);
    }
    for (auto &t : pool) t.join();
    if (failure) std::rethrow_exception(failure);
    if (was_cancelled) throw Cancelled();
    report(count);
}

}  // namespace vimor_fit

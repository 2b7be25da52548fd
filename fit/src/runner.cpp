#include "runner.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "error.h"

namespace vimor_fit {

namespace {

// How often the calling thread polls the cancel callback while units run:
// often enough that a host stops well within a second.
constexpr auto kPoll = std::chrono::milliseconds(20);

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
    if (threads == 1) {
        // On the calling thread, polling between units.
        for (std::int32_t i = 0; i < count; ++i) {
            if (cancelled(hooks)) throw Cancelled();
            unit(i);
            report(i + 1);
        }
        return;
    }

    std::atomic<std::int32_t> next{0};
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::condition_variable changed;
    std::int32_t done = 0, running = threads;
    std::exception_ptr failure;
    auto worker = [&]() {
        for (;;) {
            if (stop) break;
            const std::int32_t i = next++;
            if (i >= count) break;
            try {
                unit(i);
            } catch (...) {
                std::lock_guard<std::mutex> lock(mutex);
                if (!failure) failure = std::current_exception();
                stop = true;
            }
            std::lock_guard<std::mutex> lock(mutex);
            ++done;
            changed.notify_one();
        }
        std::lock_guard<std::mutex> lock(mutex);
        --running;
        changed.notify_one();
    };
    std::vector<std::thread> pool;
    pool.reserve(threads);
    for (std::int32_t t = 0; t < threads; ++t) pool.emplace_back(worker);

    bool was_cancelled = false;
    std::int32_t reported = 0;
    {
        std::unique_lock<std::mutex> lock(mutex);
        while (running > 0) {
            changed.wait_for(lock, kPoll);
            const std::int32_t now = done;
            if (now != reported && hooks.progress) {
                reported = now;
                lock.unlock();
                report(now);
                lock.lock();
            }
            if (!was_cancelled && !stop) {
                lock.unlock();
                was_cancelled = cancelled(hooks);
                lock.lock();
                if (was_cancelled) stop = true;
            }
        }
    }
    for (auto &t : pool) t.join();
    if (failure) std::rethrow_exception(failure);
    if (was_cancelled) throw Cancelled();
    if (reported != count) report(count);
}

}  // namespace vimor_fit

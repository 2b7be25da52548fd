// Searches on several threads at once: each thread has its own generator
// state, so every result must equal, to the bit, the same search run alone.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "exact_search.h"

using vimor_test::SearchCase;

namespace {

// A search on its own simulated data set; `which` varies the size, the seeds
// and the settings so that no two threads run the same stream.
SearchCase make_case(int which) {
    std::mt19937 rng(1000 + which);
    std::normal_distribution<double> normal;
    SearchCase c;
    c.nobs = 60 + 17 * which;
    c.nreg = 2 + which % 4;
    c.history_len = 1 + which % 3;
    c.maximize = which % 2;
    c.max_evals = 4000 + 500 * which;
    c.tolerance = which % 3 == 0 ? -1.0 : 1e-4;  // some runs end at the limit
    c.seed1 = 11 * which + 3;
    c.seed2 = 7919 - which;
    c.allocate();
    for (int32_t i = 0; i < c.nobs; ++i) {
        double index = 0.0;
        for (int32_t j = 0; j < c.nreg; ++j) {
            const double x = normal(rng);
            c.regressors[static_cast<std::size_t>(j) * c.nobs + i] = x;
            index += 0.5 * x;
        }
        c.response[i] = index + normal(rng) >= 0.0 ? 1.0 : 0.0;
    }
    for (std::size_t i = 0; i < c.coef.size; ++i) {
        c.lower[i] = -4.0;
        c.upper[i] = 4.0;
        c.coef[i] = 0.1 * which;
        c.step[i] = 1.0;
        c.step_gain[i] = 2.0;
    }
    return c;
}

}  // namespace

TEST(Threads, ConcurrentSearchesMatchSearchesRunAlone) {
    constexpr int kThreads = 6;
    constexpr int kRepeats = 3;
    std::vector<std::string> alone(kThreads);
    for (int t = 0; t < kThreads; ++t) {
        SearchCase c = make_case(t);
        c.run();
        alone[t] = c.outputs();
    }

    std::atomic<int> ready{0};
    std::vector<std::vector<std::string>> together(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &ready, &together] {
            const SearchCase start = make_case(t);
            // Start every thread's searches at once to maximise overlap.
            ready.fetch_add(1);
            while (ready.load() < kThreads) std::this_thread::yield();
            for (int r = 0; r < kRepeats; ++r) {
                SearchCase c = start;
                c.run();
                together[t].push_back(c.outputs());
                c.objective(c.best);  // objective calls in between change nothing
            }
        });
    }
    for (std::thread &th : threads) th.join();

    for (int t = 0; t < kThreads; ++t) {
        for (int r = 0; r < kRepeats; ++r)
            EXPECT_EQ(together[t][r], alone[t]) << "thread " << t << ", run " << r;
    }
}

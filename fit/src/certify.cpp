#include "certify.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>

#include "error.h"

namespace vimor_fit {

namespace {

using Wide = __int128;  // exact sums of scaled terms: 53 + 40 bits of term, 31 of count

// A set of identical rows (the regressors bit for bit): one index, one sign,
// so they count together. `gain` is the sum of the module's terms of its rows
// with a non-negative index, in units of 2^exponent: what the group adds to
// the objective's positive part.
struct Group {
    std::vector<double> x;  // K, the row
    double ones = 0, zeros = 0;  // weight of the rows with y 1 and y 0
    Wide gain = 0;
};

// Term of row i as the module forms it for a non-negative index,
// fl(fl(1/N) (r_i - fl(1 - a))) with r_i the response the module is given,
// split into an integer and a power of 2 common to every row. The objective
// is exactly 2 (sum of the terms of non-negative indices) - (sum of all terms)
// before the module rounds its sum.
struct Terms {
    std::vector<Wide> scaled;
    int exponent = 0;
    std::vector<double> term;
};

Terms module_terms(const Problem &p, const double *response, double quantile) {
    const double weight = 1.0 / static_cast<double>(p.nobs);
    const double shift = 1.0 - quantile;
    Terms t;
    t.term.resize(p.nobs);
    std::vector<int> exponents(p.nobs);
    int least = std::numeric_limits<int>::max(), most = std::numeric_limits<int>::min();
    for (std::int32_t i = 0; i < p.nobs; ++i) {
        t.term[i] = weight * (response[i] - shift);
        if (!std::isfinite(t.term[i])) {
            throw ArgumentError("quantile", "the terms of the objective are not finite");
        }
        if (t.term[i] == 0.0) continue;
        std::frexp(t.term[i], &exponents[i]);
        least = std::min(least, exponents[i]);
        most = std::max(most, exponents[i]);
    }
    // 53 bits of a term, 40 of spread and 31 of a count stay inside 127 bits.
    if (most > least && most - least > 40) {
        throw ArgumentError("quantile",
                            "is too near 0 or 1 (or the weights too unequal) for a certificate: "
                            "the terms of the objective differ by more than 2^40");
    }
    t.exponent = least == std::numeric_limits<int>::max() ? 0 : least - 53;
    t.scaled.resize(p.nobs);
    for (std::int32_t i = 0; i < p.nobs; ++i) {
        // Exact: the term is a multiple of 2^exponent below 2^(53 + 40).
        const double m = std::ldexp(t.term[i], -t.exponent);
        const double high = std::ldexp(std::trunc(std::ldexp(m, -62)), 62);
        t.scaled[i] = Wide(std::int64_t(std::ldexp(high, -62))) * (Wide(1) << 62) +
                      Wide(std::int64_t(m - high));
    }
    return t;
}

long double to_real(Wide v, int exponent) {
    const bool negative = v < 0;
    unsigned __int128 a = negative ? -static_cast<unsigned __int128>(v) : v;
    const long double high = std::ldexp(static_cast<long double>(std::uint64_t(a >> 64)), 64);
    const long double r = high + static_cast<long double>(std::uint64_t(a));
    return std::ldexp(negative ? -r : r, exponent);
}

enum class Sign { positive, negative, open };

struct Node {
    std::vector<double> lower, upper;
    std::vector<std::int32_t> open;  // groups whose sign the box leaves open
    Wide known = 0;                  // gain of the groups settled non-negative
    Wide bound = 0;                  // no point of the box does better
    double correct = 0;              // weight of the settled rows classified correctly
    double correct_bound = 0;
};

class Search {
   public:
    Search(const Problem &p, std::vector<Group> groups, const CertifyOptions &o)
        : p_(p), groups_(std::move(groups)), options_(o), nfree_(p.nfree()) {}

    // The module's index of group g at b: its rounded sum, in its order.
    double index(const Group &g, const double *b) const {
        double s = 0.0;
        for (std::int32_t j = 0; j < nfree_; ++j) s = g.x[j] * b[j] + s;
        return g.x[nfree_] * p_.fixed_coef + s;
    }

    // The sign of group g's index over the box. Each rounded product is
    // monotone in its coefficient and each rounded sum in both operands, so
    // the module's index is least at the corner that takes each coefficient's
    // smaller product and greatest at the other; the two sums are exact
    // bounds of the rounded index, with no margin needed. A sum that
    // overflows settles nothing.
    Sign sign(const Group &g, const double *lo, const double *hi) const {
        if (options_.unsound_exact_index) return sign_exact(g, lo, hi);
        double least = 0.0, most = 0.0;
        for (std::int32_t j = 0; j < nfree_; ++j) {
            const double x = g.x[j];
            const double a = x * lo[j], b = x * hi[j];
            least = (x >= 0 ? a : b) + least;
            most = (x >= 0 ? b : a) + most;
        }
        const double last = g.x[nfree_] * p_.fixed_coef;
        least = last + least;
        most = last + most;
        if (!std::isfinite(least) || !std::isfinite(most)) return Sign::open;
        if (least >= 0.0) return Sign::positive;
        if (most < 0.0) return Sign::negative;
        return Sign::open;
    }

    // Test only: the range of the exact x.b, not of the module's sum.
    Sign sign_exact(const Group &g, const double *lo, const double *hi) const {
        long double least = (long double)g.x[nfree_] * p_.fixed_coef, most = least;
        for (std::int32_t j = 0; j < nfree_; ++j) {
            const long double a = (long double)g.x[j] * lo[j], b = (long double)g.x[j] * hi[j];
            least += std::min(a, b);
            most += std::max(a, b);
        }
        if (least >= 0) return Sign::positive;
        if (most < 0) return Sign::negative;
        return Sign::open;
    }

    // Settles the parent's open groups over `child`'s box; false when the box
    // cannot beat the best known (stopping as soon as that is clear: the
    // groups are in order of decreasing |gain|).
    bool refine(const Node &parent, Node &child) {
        ++nodes_;
        child.known = parent.known;
        child.bound = parent.bound;
        child.correct = parent.correct;
        child.open.clear();
        for (const std::int32_t gi : parent.open) {
            const Group &g = groups_[gi];
            switch (sign(g, child.lower.data(), child.upper.data())) {
            case Sign::positive:
                child.known += g.gain;
                if (g.gain < 0) child.bound += g.gain;
                child.correct += g.ones;
                break;
            case Sign::negative:
                if (g.gain > 0) child.bound -= g.gain;
                child.correct += g.zeros;
                break;
            case Sign::open:
                child.open.push_back(gi);
                break;
            }
            if (child.bound <= best_) return false;
        }
        child.correct_bound = child.correct;
        for (const std::int32_t gi : child.open)
            child.correct_bound += std::max(groups_[gi].ones, groups_[gi].zeros);
        // A point of the box: its centre, where the open groups are decided.
        centre_.resize(nfree_);
        for (std::int32_t j = 0; j < nfree_; ++j) {
            const double mid = 0.5 * child.lower[j] + 0.5 * child.upper[j];
            centre_[j] = std::min(std::max(mid, child.lower[j]), child.upper[j]);  // subnormals
        }
        Wide at_centre = child.known;
        for (const std::int32_t gi : child.open)
            if (index(groups_[gi], centre_.data()) >= 0.0) at_centre += groups_[gi].gain;
        if (at_centre > best_) {
            best_ = at_centre;
            best_point_ = centre_;
        }
        return child.bound > best_;
    }

    // The halves of n's box along coordinate j; false when it has no width.
    static bool halve(const Node &n, std::int32_t j, Node &a, Node &b) {
        if (!(n.lower[j] < n.upper[j])) return false;
        a.lower = b.lower = n.lower;
        a.upper = b.upper = n.upper;
        double mid = 0.5 * n.lower[j] + 0.5 * n.upper[j];
        // Halving a subnormal rounds: never split outside the box, nor skip
        // a double.
        if (!(mid > n.lower[j] && mid < n.upper[j])) mid = std::nextafter(n.lower[j], n.upper[j]);
        if (mid < n.upper[j]) {
            a.upper[j] = mid;
            b.lower[j] = mid;
        } else {  // neighbouring doubles: nothing lies between them
            a.upper[j] = n.lower[j];
            b.lower[j] = n.upper[j];
        }
        return true;
    }

    // Splits n into `a` and `b` (those kept: false when pruned); false when n
    // is a single point whose sums overflow, which is then left open.
    bool expand(Node &n, Node &a, Node &b, bool &keep_a, bool &keep_b) {
        // The split is along the coordinate whose width moves the open
        // indices most (measured, trying every coordinate and keeping the
        // split that settles most groups took more sub-boxes, not fewer: it
        // shaves thin slivers off boxes around points where several
        // hyperplanes meet).
        std::int32_t j = -1;
        double most = 0;
        for (std::int32_t c = 0; c < nfree_; ++c) {
            if (!(n.lower[c] < n.upper[c])) continue;
            double reach = 0;
            for (const std::int32_t gi : n.open) reach += std::fabs(groups_[gi].x[c]);
            reach *= n.upper[c] - n.lower[c];
            if (j < 0 || reach > most) {
                j = c;
                most = reach;
            }
        }
        if (j < 0 || !halve(n, j, a, b)) {
            leftover_.push_back(std::move(n));
            return false;
        }
        keep_a = refine(n, a);
        keep_b = refine(n, b);
        return true;
    }

    // True when the search must stop (time, or the node limit); throws
    // Cancelled when the host asks.
    bool out_of_time(std::uint64_t turn, std::chrono::steady_clock::time_point deadline) {
        if ((turn & 63) == 1) {
            if (options_.stop && options_.stop()) throw Cancelled();
            if (std::chrono::steady_clock::now() >= deadline) timed_out_ = true;
        }
        if (options_.max_nodes > 0 && nodes_ >= options_.max_nodes) timed_out_ = true;
        return timed_out_;
    }

    // Best first while the frontier is small, so that the bound left when
    // time runs out is the least open one; past kFrontier boxes, the most
    // promising box is finished depth first (memory stays bounded), the
    // better half first.
    void run(Node root, std::chrono::steady_clock::time_point deadline) {
        Node parent;
        parent.open.resize(groups_.size());
        for (std::size_t g = 0; g < groups_.size(); ++g) parent.open[g] = std::int32_t(g);
        for (const Group &g : groups_) parent.bound += std::max(g.gain, Wide(0));
        const auto lower_bound_first = [](const Node &x, const Node &y) { return x.bound < y.bound; };
        if (refine(parent, root)) frontier_.push_back(std::move(root));
        Node a, b;
        std::uint64_t turn = 0;
        while (!frontier_.empty() && !out_of_time(++turn, deadline)) {
            std::pop_heap(frontier_.begin(), frontier_.end(), lower_bound_first);
            Node n = std::move(frontier_.back());
            frontier_.pop_back();
            if (n.bound <= best_) continue;
            if (frontier_.size() < kFrontier) {
                bool keep_a, keep_b;
                if (!expand(n, a, b, keep_a, keep_b)) continue;
                for (Node *c : {&a, &b}) {
                    if (!(c == &a ? keep_a : keep_b)) continue;
                    frontier_.push_back(std::move(*c));
                    std::push_heap(frontier_.begin(), frontier_.end(), lower_bound_first);
                }
                continue;
            }
            stack_.push_back(std::move(n));
            for (std::size_t dive = 0; !stack_.empty() && !out_of_time(++turn, deadline); ++dive) {
                if (dive == kDive) {  // the rest back to the frontier: no box is left for long
                    for (Node &m : stack_) {
                        frontier_.push_back(std::move(m));
                        std::push_heap(frontier_.begin(), frontier_.end(), lower_bound_first);
                    }
                    stack_.clear();
                    break;
                }
                Node m = std::move(stack_.back());
                stack_.pop_back();
                if (m.bound <= best_) continue;
                bool keep_a, keep_b;
                if (!expand(m, a, b, keep_a, keep_b)) continue;
                if (keep_a && keep_b && a.bound > b.bound) std::swap(a, b), std::swap(keep_a, keep_b);
                if (keep_a) stack_.push_back(std::move(a));
                if (keep_b) stack_.push_back(std::move(b));
            }
        }
    }

    static constexpr std::size_t kFrontier = std::size_t(1) << 15;
    static constexpr std::size_t kDive = std::size_t(1) << 14;
    const Problem &p_;
    std::vector<Group> groups_;
    const CertifyOptions &options_;
    std::int32_t nfree_;
    Wide best_ = 0;
    std::vector<double> best_point_, centre_;
    std::int64_t nodes_ = 0;
    bool timed_out_ = false;
    std::vector<Node> frontier_, stack_, leftover_;
};

}  // namespace

Certificate certify(const Module &module, const Problem &p, double quantile, const double *lower,
                    const double *upper, const double *start, const CertifyOptions &options) {
    using clock = std::chrono::steady_clock;
    const clock::time_point began = clock::now();
    const double seconds = std::min(std::max(options.seconds, 0.0), 1e9);
    const clock::time_point deadline =
        began + std::chrono::duration_cast<clock::duration>(std::chrono::duration<double>(seconds));
    const std::int32_t nfree = p.nfree(), k = p.nreg;
    for (std::int32_t j = 0; j < nfree; ++j) {
        if (!(lower[j] <= upper[j]) || !std::isfinite(lower[j]) || !std::isfinite(upper[j])) {
            throw ArgumentError("lower", "the box to certify must be finite with lower <= upper");
        }
    }
    const double *response = options.module_response ? options.module_response : p.response;
    const Terms terms = module_terms(p, response, quantile);

    // Identical rows merge; a group whose sign cannot change the objective
    // (its gain is zero) is left out of the search.
    std::map<std::vector<std::uint64_t>, std::int32_t> seen;
    std::vector<Group> all;
    std::vector<std::uint64_t> bits(k);
    Wide total = 0;
    long double magnitude = 0;  // sum of |terms|
    for (std::int32_t i = 0; i < p.nobs; ++i) {
        for (std::int32_t j = 0; j < k; ++j) std::memcpy(&bits[j], &p.column(j)[i], 8);
        auto [it, fresh] = seen.emplace(bits, std::int32_t(all.size()));
        if (fresh) {
            Group g;
            g.x.resize(k);
            for (std::int32_t j = 0; j < k; ++j) g.x[j] = p.column(j)[i];
            all.push_back(std::move(g));
        }
        Group &g = all[it->second];
        const double w = options.weights ? options.weights[i] : 1.0;
        (p.response[i] == 1.0 ? g.ones : g.zeros) += w;
        g.gain += terms.scaled[i];
        total += terms.scaled[i];
        magnitude += std::fabs((long double)terms.term[i]);
    }
    std::vector<Group> groups;
    double indifferent = 0;  // most correct among the groups left out
    for (Group &g : all) {
        if (!options.maximize) g.gain = -g.gain;
        if (g.gain == 0) {
            indifferent += std::max(g.ones, g.zeros);
            continue;
        }
        groups.push_back(std::move(g));
    }
    // Large gains first: a bound falls fastest when they settle.
    std::stable_sort(groups.begin(), groups.end(), [](const Group &a, const Group &b) {
        const Wide x = a.gain < 0 ? -a.gain : a.gain, y = b.gain < 0 ? -b.gain : b.gain;
        return x > y;
    });

    Search search(p, std::move(groups), options);
    // The start is the first best point: the fit's estimate.
    search.best_point_.assign(start, start + nfree);
    for (const Group &g : search.groups_)
        if (search.index(g, start) >= 0.0) search.best_ += g.gain;
    const Wide at_start = search.best_;

    Node root;
    root.lower.assign(lower, lower + nfree);
    root.upper.assign(upper, upper + nfree);
    search.run(std::move(root), deadline);

    Certificate c;
    c.nodes = search.nodes_;
    c.point = search.best_point_;
    c.improved = search.best_ > at_start;
    if (!c.improved) c.point.assign(start, start + nfree);
    Problem scored = p;
    scored.response = response;
    c.value = objective_at(module, scored, quantile, c.point.data());
    c.correct = 0;
    for (std::int32_t i = 0; i < p.nobs; ++i) {
        const bool predicted = observation_index(p, c.point.data(), i) >= 0.0;
        if (predicted == (p.response[i] == 1.0)) c.correct += options.weights ? options.weights[i] : 1.0;
    }
    c.resolved = search.leftover_.empty();
    c.optimal = !search.timed_out_ && c.resolved;

    Wide bound = search.best_;
    double correct_bound = c.correct;
    for (const std::vector<Node> *nodes : {&search.frontier_, &search.stack_, &search.leftover_}) {
        for (const Node &n : *nodes) {
            if (n.bound <= search.best_) continue;
            bound = std::max(bound, n.bound);
            correct_bound = std::max(correct_bound, n.correct_bound + indifferent);
        }
    }
    c.upper_correct = correct_bound;
    if (c.optimal) {
        c.upper_bound = c.value;
    } else {
        // The objective is 2 G - (all terms), G the bound's sum of terms;
        // widened by the rounding of the module's sum (each of its N sums
        // within half an ulp: within N 2^-53 sum |terms| of the exact sum)
        // and rounded outward.
        const long double g = to_real(options.maximize ? bound : -bound, terms.exponent);
        const long double rounding = 1.01L * p.nobs * std::ldexp(1.0L, -53) * magnitude;
        const long double exact = 2 * g - to_real(total, terms.exponent) +
                                  (options.maximize ? rounding : -rounding);
        double rounded = static_cast<double>(exact);
        const double outward = options.maximize ? INFINITY : -INFINITY;
        if (options.maximize ? (long double)rounded < exact : (long double)rounded > exact)
            rounded = std::nextafter(rounded, outward);
        c.upper_bound = rounded;
    }
    c.seconds = std::chrono::duration<double>(clock::now() - began).count();
    return c;
}

Certificate certify_estimate(const Module &module, const Problem &data, const Settings &s,
                             const std::vector<double> &estimate, std::function<bool()> stop) {
    CertifyOptions o;
    o.stop = std::move(stop);
    o.seconds = s.certify;
    o.maximize = s.maximize;
    o.module_response = data.module_y();
    o.weights = data.weights;
    return certify(module, data, s.quantile, s.lower.data(), s.upper.data(), estimate.data(), o);
}

bool certificate_value(const Certificate &c, const std::string &key, std::vector<double> &out) {
    const std::pair<const char *, double> values[] = {
        {"certificate_status", c.optimal ? 1.0 : 0.0},
        {"certificate_upper_bound", c.upper_bound},
        {"certificate_upper_correct", c.upper_correct},
        {"certificate_nodes", double(c.nodes)},
        {"certificate_seconds", c.seconds},
        {"certificate_improved", c.improved ? 1.0 : 0.0}};
    for (const auto &[name, value] : values) {
        if (key == name) {
            out.assign(1, value);
            return true;
        }
    }
    return false;
}

}  // namespace vimor_fit

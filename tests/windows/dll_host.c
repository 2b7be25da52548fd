/* A host that loads the vimor module by name at run time, the way statistics
 * packages do: vimor.dll through LoadLibrary on Windows, libvimor.so through
 * dlopen on Linux. It checks the exports and the objective's known values,
 * then runs a few complete searches and prints every output as bit patterns.
 * The Windows and Linux builds of this file must print the same transcript.
 *
 * Usage: vimor_dll_host [module]   (exit 0 when every check passes)
 */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "vimor.h"

#ifdef _WIN32
#  define WIN32_LEAN_AND_MEAN
#  include <fcntl.h>
#  include <io.h>
#  include <windows.h>
#  define DEFAULT_MODULE "vimor.dll"
#else
#  include <dlfcn.h>
#  include <pthread.h>
#  define DEFAULT_MODULE "libvimor.so"
#endif

typedef __typeof__(_fcna_) fcna_fn;
typedef __typeof__(_saa_) saa_fn;

static int failures = 0;

static void fail(const char *what) {
    fprintf(stderr, "vimor_dll_host: FAIL: %s\n", what);
    ++failures;
}

static uint64_t bits(double x) {
    uint64_t u;
    memcpy(&u, &x, sizeof u);
    return u;
}

/* Hex by hand: the two C runtimes disagree on printf's 64-bit formats. */
static void put_hex(double x) {
    static const char digits[] = "0123456789abcdef";
    char text[17];
    uint64_t u = bits(x);
    for (int i = 15; i >= 0; --i, u >>= 4) text[i] = digits[u & 15];
    text[16] = '\0';
    printf(" %s", text);
}

static void put_doubles(const char *name, const double *x, int n) {
    printf("%s", name);
    for (int i = 0; i < n; ++i) put_hex(x[i]);
    printf("\n");
}

/* ------------------------------------------------------------ loading */

struct module {
    void *handle;
    fcna_fn *fcna;
    saa_fn *saa;
    fcna_fn *fcna_by_ordinal; /* same as by name where exports are not numbered */
    saa_fn *saa_by_ordinal;
};

static int load(const char *name, struct module *m) {
#ifdef _WIN32
    HMODULE h = LoadLibraryA(name);
    if (h == NULL) {
        fprintf(stderr, "vimor_dll_host: cannot load %s (error %lu)\n", name,
                (unsigned long)GetLastError());
        return 0;
    }
    m->handle = h;
    m->fcna = (fcna_fn *)(void *)GetProcAddress(h, "_fcna_");
    m->saa = (saa_fn *)(void *)GetProcAddress(h, "_saa_");
    m->fcna_by_ordinal = (fcna_fn *)(void *)GetProcAddress(h, MAKEINTRESOURCEA(1));
    m->saa_by_ordinal = (saa_fn *)(void *)GetProcAddress(h, MAKEINTRESOURCEA(2));
    if (GetProcAddress(h, MAKEINTRESOURCEA(3)) != NULL) fail("the DLL has an ordinal 3");
    if (GetProcAddress(h, "DllMain") != NULL) fail("the DLL exports DllMain");
#else
    void *h = dlopen(name, RTLD_NOW | RTLD_LOCAL);
    if (h == NULL) {
        fprintf(stderr, "vimor_dll_host: cannot load %s: %s\n", name, dlerror());
        return 0;
    }
    m->handle = h;
    m->fcna = (fcna_fn *)dlsym(h, "_fcna_");
    m->saa = (saa_fn *)dlsym(h, "_saa_");
    m->fcna_by_ordinal = m->fcna;
    m->saa_by_ordinal = m->saa;
#endif
    if (m->fcna == NULL || m->saa == NULL) {
        fprintf(stderr, "vimor_dll_host: %s lacks _fcna_ or _saa_\n", name);
        return 0;
    }
    if (m->fcna_by_ordinal != m->fcna) fail("ordinal 1 is not _fcna_");
    if (m->saa_by_ordinal != m->saa) fail("ordinal 2 is not _saa_");
    return failures == 0; /* calling through a wrong ordinal would crash */
}

static void unload(struct module *m) {
#ifdef _WIN32
    if (!FreeLibrary((HMODULE)m->handle)) fail("FreeLibrary refused the DLL");
#else
    if (dlclose(m->handle) != 0) fail("dlclose refused the module");
#endif
}

/* ------------------------------------------------------------ objective */

static void check_objective(fcna_fn *fcna, const char *how) {
    char what[96];
    double score;

    /* Observation 1 has index 1 (sign +1), observation 2 index -1 (sign -1):
     * S = 1/2 * 0.5 * 1 + 1/2 * (-0.5) * (-1) = 0.5. */
    {
        const double response[] = {1, 0}, regressors[] = {1, -1, 1, 1}, coef[] = {1};
        const int32_t nobs = 2, nreg = 2;
        const double quantile = 0.5, fixed_coef = 0;
        score = -1;
        int32_t rc = fcna(response, regressors, &nobs, &nreg, coef, &score, &quantile, &fixed_coef);
        snprintf(what, sizeof what, "objective example 1 through %s", how);
        if (rc != 0 || bits(score) != bits(0.5)) fail(what);
        put_doubles("objective1", &score, 1);
    }
    /* Every index is 1; the terms -a, +a, +a with a = (1/3) * 0.5 sum to a. */
    {
        const double response[] = {0, 1, 1}, regressors[] = {1, 1, 1, 1, 1, 1}, coef[] = {0};
        const int32_t nobs = 3, nreg = 2;
        const double quantile = 0.5, fixed_coef = 1;
        score = -1;
        int32_t rc = fcna(response, regressors, &nobs, &nreg, coef, &score, &quantile, &fixed_coef);
        snprintf(what, sizeof what, "objective example 2 through %s", how);
        if (rc != 0 || bits(score) != bits((1.0 / 3.0) * 0.5)) fail(what);
        put_doubles("objective2", &score, 1);
    }
}

/* ------------------------------------------------------------ search */

enum { NOBS = 150, NREG = 4, NFREE = NREG - 1, HISTORY = 4 };

static double response[NOBS];
static double regressors[NOBS * NREG];

/* A fixed data set from integer arithmetic only, so both platforms build the
 * same doubles: regressors are multiples of 1/256 in [-4, 4), and the
 * response follows the sign of a linear index with a noisy threshold. */
static void make_data(void) {
    uint32_t state = 20240607u;
    for (int i = 0; i < NOBS * NREG; ++i) {
        state = state * 1664525u + 1013904223u;
        regressors[i] = (double)((int32_t)(state >> 21) - 1024) / 256.0;
    }
    for (int i = 0; i < NOBS; ++i) regressors[i] = 1.0; /* intercept */
    for (int i = 0; i < NOBS; ++i) {
        state = state * 1664525u + 1013904223u;
        const double noise = (double)((int32_t)(state >> 22) - 512) / 128.0;
        const double index = 0.5 * regressors[i] - 1.0 * regressors[NOBS + i] +
                             0.75 * regressors[2 * NOBS + i] + regressors[3 * NOBS + i];
        response[i] = index + noise >= 0.0 ? 1.0 : 0.0;
    }
}

struct search {
    /* inputs */
    double quantile, cooling, tolerance, fixed_coef;
    int32_t maximize, sweeps, adjustments, history_len, max_evals, seed1, seed2;
    double start[NFREE], start_step[NFREE], start_temperature;
    /* outputs */
    int32_t rc, n_accepted, n_evals, n_out_of_bounds, status, limit_hit;
    double coef[NFREE], step[NFREE], best[NFREE], temperature, best_value;
};

static void run(saa_fn *saa, struct search *s) {
    static const double lower[NFREE] = {-5, -5, -5}, upper[NFREE] = {5, 5, 5};
    static const double step_gain[NFREE] = {2, 2, 2};
    const int32_t nobs = NOBS, nreg = NREG;
    double history[HISTORY], trial[NFREE];
    int32_t accept_counts[NFREE];
    memcpy(s->coef, s->start, sizeof s->coef);
    memcpy(s->step, s->start_step, sizeof s->step);
    s->temperature = s->start_temperature;
    s->limit_hit = 0;
    s->rc = saa(response, regressors, &nobs, &nreg, s->coef, &s->quantile, &s->maximize,
                &s->cooling, &s->tolerance, &s->sweeps, &s->adjustments, &s->history_len,
                &s->max_evals, lower, upper, step_gain, &s->seed1, &s->seed2, &s->temperature,
                s->step, s->best, &s->best_value, &s->n_accepted, &s->n_evals,
                &s->n_out_of_bounds, &s->status, history, trial, accept_counts, &s->limit_hit,
                &s->fixed_coef);
}

static void print_search(const char *name, const struct search *s) {
    printf("%s rc=%d status=%d limit_hit=%d accepted=%d evals=%d out_of_bounds=%d\n", name,
           (int)s->rc, (int)s->status, (int)s->limit_hit, (int)s->n_accepted, (int)s->n_evals,
           (int)s->n_out_of_bounds);
    printf("  ");
    put_doubles("best_value", &s->best_value, 1);
    printf("  ");
    put_doubles("best", s->best, NFREE);
    printf("  ");
    put_doubles("coef", s->coef, NFREE);
    printf("  ");
    put_doubles("step", s->step, NFREE);
    printf("  ");
    put_doubles("temperature", &s->temperature, 1);
}

static int same_outputs(const struct search *a, const struct search *b) {
    return a->rc == b->rc && a->status == b->status && a->limit_hit == b->limit_hit &&
           a->n_accepted == b->n_accepted && a->n_evals == b->n_evals &&
           a->n_out_of_bounds == b->n_out_of_bounds &&
           bits(a->best_value) == bits(b->best_value) &&
           bits(a->temperature) == bits(b->temperature) &&
           memcmp(a->coef, b->coef, sizeof a->coef) == 0 &&
           memcmp(a->step, b->step, sizeof a->step) == 0 &&
           memcmp(a->best, b->best, sizeof a->best) == 0;
}

/* A search on a thread of its own, to see the generator state work there. */
struct job {
    saa_fn *saa;
    struct search *s;
};

#ifdef _WIN32
static DWORD WINAPI job_main(LPVOID arg) {
    struct job *j = arg;
    run(j->saa, j->s);
    return 0;
}
static int run_on_thread(saa_fn *saa, struct search *s) {
    struct job j = {saa, s};
    HANDLE t = CreateThread(NULL, 0, job_main, &j, 0, NULL);
    if (t == NULL) return 0;
    WaitForSingleObject(t, INFINITE);
    CloseHandle(t);
    return 1;
}
#else
static void *job_main(void *arg) {
    struct job *j = arg;
    run(j->saa, j->s);
    return NULL;
}
static int run_on_thread(saa_fn *saa, struct search *s) {
    struct job j = {saa, s};
    pthread_t t;
    if (pthread_create(&t, NULL, job_main, &j) != 0) return 0;
    pthread_join(t, NULL);
    return 1;
}
#endif

int main(int argc, char **argv) {
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY); /* the same bytes as on Linux */
#endif
    const char *name = argc > 1 ? argv[1] : DEFAULT_MODULE;
    struct module m;
    if (!load(name, &m)) return 2;

    check_objective(m.fcna, "its name");
    check_objective(m.fcna_by_ordinal, "its ordinal");

    make_data();
    /* Converges: maximise at the median. */
    struct search a = {.quantile = 0.5, .cooling = 0.85, .tolerance = 1e-6, .fixed_coef = 1,
                       .maximize = 1, .sweeps = 20, .adjustments = 5, .history_len = HISTORY,
                       .max_evals = 1000000, .seed1 = 1802, .seed2 = 9373,
                       .start = {0.5, -0.5, 0.25}, .start_step = {1, 1, 1},
                       .start_temperature = 1.0};
    /* Minimise at the lower quartile with a negative seed; stops at the limit. */
    struct search b = a;
    b.quantile = 0.25;
    b.maximize = 0;
    b.max_evals = 2500;
    b.seed1 = -7;
    b.seed2 = 31328;
    b.fixed_coef = -0.5;

    run(m.saa, &a);
    print_search("search_a", &a);
    if (a.rc != 0 || a.status != 0) fail("search a did not converge");
    run(m.saa_by_ordinal, &b);
    print_search("search_b", &b);
    if (b.rc != 0 || b.status != 1 || b.limit_hit != 1 || b.n_evals != b.max_evals)
        fail("search b did not stop at the evaluation limit");

    /* The same search again, after other calls, through the ordinal and on a
     * new thread: the same outputs every time. */
    struct search again = a;
    run(m.saa_by_ordinal, &again);
    if (!same_outputs(&a, &again)) fail("search a repeated gives other outputs");
    struct search threaded = a;
    if (!run_on_thread(m.saa, &threaded)) fail("cannot start a thread");
    else if (!same_outputs(&a, &threaded)) fail("search a on another thread gives other outputs");

    /* Unloading and loading again changes nothing. */
    unload(&m);
    if (!load(name, &m)) return 2;
    struct search reloaded = a;
    run(m.saa, &reloaded);
    if (!same_outputs(&a, &reloaded)) fail("search a after a reload gives other outputs");
    unload(&m);

    if (failures != 0) {
        fprintf(stderr, "vimor_dll_host: %d check(s) failed\n", failures);
        return 1;
    }
    return 0;
}

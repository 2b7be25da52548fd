/* Registers the glue to the estimation core for .Call. */
#include <R.h>
#include <Rinternals.h>
#include <R_ext/Rdynload.h>

SEXP vimor_r_fit(SEXP, SEXP, SEXP, SEXP, SEXP, SEXP);
SEXP vimor_r_interval(SEXP, SEXP, SEXP, SEXP, SEXP, SEXP);
SEXP vimor_r_index(SEXP, SEXP, SEXP, SEXP);
SEXP vimor_r_score(SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP);
SEXP vimor_r_profile(SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP, SEXP);
SEXP vimor_r_scaled_draws(SEXP, SEXP, SEXP, SEXP);
SEXP vimor_r_defaults(SEXP);

static const R_CallMethodDef call_methods[] = {
    {"vimor_r_fit", (DL_FUNC) &vimor_r_fit, 6},
    {"vimor_r_interval", (DL_FUNC) &vimor_r_interval, 6},
    {"vimor_r_index", (DL_FUNC) &vimor_r_index, 4},
    {"vimor_r_score", (DL_FUNC) &vimor_r_score, 7},
    {"vimor_r_profile", (DL_FUNC) &vimor_r_profile, 10},
    {"vimor_r_scaled_draws", (DL_FUNC) &vimor_r_scaled_draws, 4},
    {"vimor_r_defaults", (DL_FUNC) &vimor_r_defaults, 1},
    {NULL, NULL, 0}};

void R_init_vimor(DllInfo *dll) {
    R_registerRoutines(dll, NULL, call_methods, NULL, NULL);
    R_useDynamicSymbols(dll, FALSE);
    R_forceSymbols(dll, TRUE);
}

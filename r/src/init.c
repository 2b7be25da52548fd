/* Registers the library's two exports for .C, with the type of every
 * argument, so R checks each call's arguments (double or 32-bit int). */
#include <R.h>
#include <Rinternals.h>
#include <R_ext/Rdynload.h>

#include "vimor.h"

static R_NativePrimitiveArgType fcna_types[] = {
    REALSXP, REALSXP, INTSXP, INTSXP, REALSXP, REALSXP, REALSXP, REALSXP};

static R_NativePrimitiveArgType saa_types[] = {
    REALSXP, REALSXP, INTSXP, INTSXP, REALSXP, /* response .. coef */
    REALSXP, INTSXP, REALSXP, REALSXP,         /* quantile, maximize, cooling, tolerance */
    INTSXP, INTSXP, INTSXP, INTSXP,            /* sweeps, adjustments, history_len, max_evals */
    REALSXP, REALSXP, REALSXP, INTSXP, INTSXP, /* lower, upper, step_gain, seed1, seed2 */
    REALSXP, REALSXP, REALSXP, REALSXP,        /* temperature, step, best, best_value */
    INTSXP, INTSXP, INTSXP, INTSXP,            /* n_accepted, n_evals, n_out_of_bounds, status */
    REALSXP, REALSXP, INTSXP, INTSXP,          /* history, trial, accept_counts, limit_hit */
    REALSXP};                                  /* fixed_coef */

static const R_CMethodDef c_methods[] = {
    {"_fcna_", (DL_FUNC) &_fcna_, 8, fcna_types},
    {"_saa_", (DL_FUNC) &_saa_, 31, saa_types},
    {NULL, NULL, 0, NULL}};

void R_init_vimor(DllInfo *dll) {
    R_registerRoutines(dll, c_methods, NULL, NULL, NULL);
    R_useDynamicSymbols(dll, FALSE);
    R_forceSymbols(dll, TRUE);
}

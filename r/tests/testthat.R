library(testthat)
library(vimor)

test_check("vimor")

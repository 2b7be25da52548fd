# Ctrl-C reaches a fit running on the core's threads: R gets its interrupt
# back within a second, with every thread of the fit ended.
test_that("SIGINT stops a fit on two cores within a second, leaving no thread", {
  skip_if_not(file.exists("/proc/self/status"), "needs Linux's /proc")
  dir <- tempfile()
  dir.create(dir)
  file <- function(name) file.path(dir, name)
  # Each line written to a new name, then renamed, so that it is read whole.
  writeLines(c(
    "threads <- function() grep('^Threads:', readLines('/proc/self/status'), value = TRUE)",
    "say <- function(text, name) { writeLines(text, paste0(name, '.new')); file.rename(paste0(name, '.new'), name) }",
    "library(vimor)",
    "set.seed(1)",
    "d <- data.frame(x = rnorm(2000), income = rnorm(2000))",
    "d$y <- as.numeric(d$x - d$income + rnorm(2000) > 0)",
    "before <- threads()",
    sprintf("say(as.character(Sys.getpid()), '%s')", file("started")),
    "tryCatch(maxscore(y ~ x, d, normalize = ~ income, restarts = 31329, max_evals = 20000, cores = 2),",
    sprintf("         interrupt = function(e) say(c(before, threads()), '%s'))", file("stopped"))),
    file("fit.R"))
  system2(file.path(R.home("bin"), "Rscript"), c("--vanilla", shQuote(file("fit.R"))),
          env = paste0("R_LIBS=", shQuote(paste(.libPaths(), collapse = ":"))), wait = FALSE,
          stdout = FALSE, stderr = file("stderr"))
  waited <- 0
  while (!file.exists(file("started")) && waited < 60) {
    Sys.sleep(0.05)
    waited <- waited + 0.05
  }
  expect_true(file.exists(file("started")), info = paste(readLines(file("stderr")), collapse = "\n"))
  pid <- as.integer(readLines(file("started")))
  Sys.sleep(1)
  alive <- function() {
    status <- suppressWarnings(tryCatch(readLines(sprintf("/proc/%d/status", pid)),
                                        error = function(e) character()))
    length(status) > 0 && !any(grepl("^State:\\s+Z", status))
  }
  on.exit(if (alive()) tools::pskill(pid, tools::SIGKILL))
  expect_true(alive())
  tools::pskill(pid, tools::SIGINT)
  sent <- Sys.time()
  while (alive() && Sys.time() - sent < 10) Sys.sleep(0.01)
  expect_lt(as.double(Sys.time() - sent, units = "secs"), 1)
  expect_false(alive())
  threads <- readLines(file("stopped"))
  expect_length(threads, 2L)
  expect_identical(threads[2], threads[1])
})

# Times initbicluster::draw_biclusters against the idiomatic base R draw
# (a size per bicluster, then sample.int per bicluster) on one workload, in
# one R process: medians of alternating runs, in milliseconds.
#
# Usage: Rscript bench/r_biclusters.R <arguments 1-7> <runs> [<base R runs>]
arguments <- commandArgs(trailingOnly = TRUE)
numbers <- as.numeric(arguments[1:7])
runs <- as.integer(arguments[8])
base_runs <- if (length(arguments) >= 9) as.integer(arguments[9]) else runs
fixed <- function(value) if (value == -1) NA else value + 1

base_r <- function(num_rows, num_biclusters, min_rows, max_rows) {
  sizes <- min_rows + sample.int(max_rows - min_rows + 1, num_biclusters, replace = TRUE) - 1
  lapply(sizes, function(size) sample.int(num_rows, size))
}

elapsed_ms <- function(expression) {
  start <- proc.time()[["elapsed"]]
  force(expression)
  (proc.time()[["elapsed"]] - start) * 1000
}

package <- numeric(0)
base <- numeric(0)
for (run in seq_len(runs)) {
  package <- c(package, elapsed_ms(initbicluster::draw_biclusters(
    numbers[1], numbers[2], numbers[3], numbers[4], numbers[5], fixed(numbers[6]),
    fixed(numbers[7]), seed = run)))
  if (run <= base_runs) {
    set.seed(run)
    base <- c(base, elapsed_ms(base_r(numbers[1], numbers[3], numbers[4], numbers[5])))
  }
  invisible(gc())
}
cat(sprintf("%.1f %.1f\n", median(package), if (length(base)) median(base) else NA))

# The package against the tool's exact files: the known answers, and runs
# the tool wrote with seeds 0 and 4294967295 (the arguments 20 5 4 1 6 3 2).

data_file <- function(name) test_path("data", name)

bytes_of <- function(path) readBin(path, "raw", file.size(path))

# The known answers, with their arguments read as the tool reads them.
known_answers <- function() {
  lines <- readLines(data_file("cases.tsv"))
  lines <- lines[!startsWith(lines, "#")]
  lapply(strsplit(lines, "\t"), function(fields) {
    texts <- strsplit(fields[3], " ")[[1]]
    numbers <- as.numeric(sub("^([+-]?[0-9]*).*$", "\\1", texts))
    list(name = fields[1], seed = as.numeric(fields[2]), numbers = numbers)
  })
}

draw_from <- function(numbers, seed) {
  fixed <- function(value) if (value == -1) NA else value + 1
  draw_biclusters(numbers[1], numbers[2], numbers[3], numbers[4], numbers[5],
                  fixed_row = fixed(numbers[6]), fixed_column = fixed(numbers[7]), seed = seed)
}

test_that("draw, write and read give the tool's exact files and rows", {
  answers <- c(known_answers(), list(
    list(name = "seed-0", seed = 0, numbers = c(20, 5, 4, 1, 6, 3, 2)),
    list(name = "seed-4294967295", seed = 4294967295, numbers = c(20, 5, 4, 1, 6, 3, 2))))
  expect_length(answers, 9)
  for (answer in answers) {
    drawn <- draw_from(answer$numbers, answer$seed)
    expect_identical(drawn$seed, answer$seed)
    written <- tempfile()
    expect_identical(write_biclusters(drawn, written), written)
    expect_identical(bytes_of(written), bytes_of(data_file(paste0(answer$name, ".txt"))),
                     label = answer$name)
    unlink(written)
    read <- read_biclusters(data_file(paste0(answer$name, ".txt")),
                            num_rows = drawn$num_rows, num_columns = max(drawn$num_columns, 0))
    expect_true(is.na(read$seed))
    if (length(drawn) > 0 && drawn$num_columns >= 0) {
      expect_true(isTRUE(all.equal(drawn, read)), label = answer$name)
    } else {
      expect_identical(read$rows, drawn$rows)
    }
  }
})

test_that("rows and columns are 1-based in R and 0-based in the file", {
  x <- draw_biclusters(6, 4, 2, 2, 3, fixed_row = 5, fixed_column = 3, seed = 1)
  expect_identical(x$rows, list(c(5L, 4L, 2L), c(5L, 2L, 1L)))
  expect_identical(x$fixed_row, 5L)
  expect_identical(x$fixed_column, 3)
  none <- draw_biclusters(6, 4, 2, 2, 3, seed = 1)
  expect_identical(none$fixed_row, NA_integer_)
  expect_identical(none$fixed_column, NA_real_)
  # A fixed column outside the matrix is kept, and lists every column.
  outside <- draw_biclusters(6, 4, 1, 2, 3, fixed_column = 9, seed = 1)
  written <- tempfile()
  write_biclusters(outside, written)
  expect_identical(readLines(written)[4:5], c("8", "0 1 2 3 "))
  expect_identical(read_biclusters(written)$fixed_column, 9)
  unlink(written)
})

test_that("the 32-bit ends read, draw and write back as the tool has them", {
  ends <- list(
    list(file = "BICLUSTER 0
-1
0 
2147483647
0 1 
", fixed_column = 2147483648),
    list(file = "BICLUSTER 0
-1
0 
-2147483648
0 1 
", fixed_column = -2147483647),
    list(file = "BICLUSTER 0
2147483646

-1

", fixed_row = 2147483647L))
  for (end in ends) {
    path <- tempfile()
    writeBin(charToRaw(end$file), path)
    x <- read_biclusters(path)
    if (!is.null(end$fixed_column)) expect_identical(x$fixed_column, end$fixed_column)
    if (!is.null(end$fixed_row)) expect_identical(x$fixed_row, end$fixed_row)
    write_biclusters(x, path)
    expect_identical(rawToChar(bytes_of(path)), end$file)
    unlink(path)
  }
  x <- draw_biclusters(3, 2, 1, 1, 1, fixed_column = -2147483647, seed = 1)
  path <- tempfile()
  write_biclusters(x, path)
  expect_identical(readLines(path)[4], "-2147483648")
  unlink(path)
  path <- tempfile()
  writeBin(charToRaw("BICLUSTER 0
2147483647
"), path)
  expect_error(read_biclusters(path), "line 2: -1 or a row number below 2147483647", fixed = TRUE)
  unlink(path)
})

test_that("a set of initial biclusters is a list of biclusters everywhere", {
  x <- draw_biclusters(50, 4, 5, 1, 9, fixed_row = 7, seed = 3)
  rows <- x$rows
  expect_identical(length(x), 5L)
  expect_identical(x[[2]], rows[[2]])
  expect_identical(lengths(x), lengths(rows))
  expect_identical(lapply(x, length), lapply(rows, length))
  expect_identical(sapply(x, length), sapply(rows, length))
  seen <- list()
  for (b in x) seen <- c(seen, list(b))
  expect_identical(seen, rows)
  expect_identical(as.list(x), rows)
  expect_identical(x[c(TRUE, FALSE)]$rows, rows[c(1, 3, 5)])
  expect_identical(x[-1]$rows, rows[-1])
  both <- c(x[1:2], x[4])
  expect_s3_class(both, "initial_biclusters")
  expect_identical(both$rows, rows[c(1, 2, 4)])
  expect_true(is.na(both$seed) && is.na(x[1]$seed) && identical(x[]$seed, x$seed))
  expect_output(print(both), "no seed")
  expect_error(c(x, draw_biclusters(50, 4, 5, 1, 9, seed = 3)), "same matrix, fixed row")
  expect_error(c(x, rows), "joins initial_biclusters objects only")
  expect_error(x[6], "subscript out of bounds: there are 5")
  expect_error(x["a"], "no names")
  expect_error(x[NA], "without NA")
  expect_error(x[[6]], "subscript out of bounds")
  expect_error(x$sizes, "no field `sizes`")
})

test_that("fields set, made or edited are checked before anything is written", {
  x <- draw_biclusters(6, 4, 2, 2, 3, fixed_row = 5, fixed_column = 3, seed = 1)
  made <- initial_biclusters(list(c(5, 4, 2), c(5, 2, 1)), 6, 4, fixed_row = 5, fixed_column = 3)
  expect_true(isTRUE(all.equal(made, x)) && is.na(made$seed))
  expect_identical(made[[1]], c(5L, 4L, 2L))
  edited <- x
  edited$fixed_column <- 4
  expect_identical(edited$fixed_column, 4)
  expect_true(is.na(edited$seed))
  attribute <- function(name, value) {
    y <- x
    attr(y, name) <- value
    y
  }
  cases <- list(
    list(quote(initial_biclusters(list(c(5, 4.5)), 6, 4, 5)), "bicluster 1: entry 2 is not a row"),
    list(quote(initial_biclusters(list(c(5, 4), 4), 6, 4, 5)),
         "bicluster 2 does not begin with the fixed row, 5"),
    list(quote(initial_biclusters(list(c(5, 4, 5)), 6, 4, 5)),
         "bicluster 1: row 5 is the fixed row"),
    list(quote(initial_biclusters(list(c(1, 1)), 6, 4)), "bicluster 1: row 1 is listed twice"),
    list(quote(initial_biclusters(list(7), 6, 4)), "bicluster 1: row 7 is not a row"),
    list(quote(initial_biclusters(list("1"), 6, 4)), "bicluster 1 is not a vector of row numbers"),
    list(quote(initial_biclusters(c(1, 2), 6, 4)), "`rows` must be a list"),
    list(quote(initial_biclusters(list(), 6, 4, fixed_column = 0)),
         "`fixed_column` must be NA for none, not 0"),
    list(quote(draw_biclusters(6, 4, 2, 1, 3, fixed_column = 0)),
         "`fixed_column` must be NA for none, not 0"),
    list(quote(write_biclusters(attribute("num_rows", NULL), tempfile())),
         "`num_rows` must be a whole number from 0"),
    list(quote(write_biclusters(attribute("num_columns", c(4, 5)), tempfile())),
         "`num_columns` must be a whole number"),
    list(quote(write_biclusters(attribute("num_columns", NA), tempfile())),
         "`num_columns` must be a whole number"),
    list(quote(write_biclusters(attribute("num_columns", 2.7), tempfile())),
         "`num_columns` must be a whole number"),
    list(quote(write_biclusters(attribute("fixed_row", 2.5), tempfile())),
         "`fixed_row` must be a whole number from 1 to 6"),
    list(quote(write_biclusters(attribute("fixed_row", 9), tempfile())),
         "`fixed_row` must be a whole number from 1 to 6"),
    list(quote(as_membership(attribute("num_rows", -1))), "`num_rows` must be a whole number"),
    list(quote(write_biclusters(structure(`[[<-`(unclass(x), 1, c(5L, 4L, 5L)),
                                          class = "initial_biclusters"), tempfile())),
         "bicluster 1: row 5 is the fixed row"),
    list(quote({ y <- x; y$num_rows <- NULL }), "`num_rows` must be a whole number"),
    list(quote({ y <- x; y[[1]] <- c(5, 9) }), "bicluster 1: row 9 is not a row"))
  for (case in cases) {
    expect_error(eval(case[[1]]), case[[2]], fixed = TRUE)
  }
})

test_that("random rows and fields are refused or written and read back", {
  set.seed(2026)
  written <- 0
  path <- tempfile()
  for (round in 1:300) {
    num_rows <- sample(0:8, 1)
    fixed_row <- if (num_rows == 0 || runif(1) < 0.5) NA else sample(num_rows, 1)
    free <- setdiff(seq_len(num_rows), fixed_row)
    rows <- lapply(seq_len(sample(0:3, 1)), function(i) {
      c(if (!is.na(fixed_row)) fixed_row, free[sample.int(length(free), sample(0:length(free), 1))])
    })
    change <- sample(6, 1)
    if (change == 1 && length(rows) > 0) rows[[1]] <- c(rows[[1]], sample(-1:(num_rows + 2), 1))
    if (change == 2 && length(rows) > 0) rows[[1]] <- rows[[1]] + 0.5
    if (change == 3) rows <- lapply(rows, as.numeric)
    num_columns <- sample(-1:4, 1)
    fixed_column <- sample(list(NA, 1, 9, 0), 1)[[1]]
    x <- structure(rows, num_rows = num_rows, num_columns = num_columns, fixed_row = fixed_row,
                   fixed_column = fixed_column, seed = NA, class = "initial_biclusters")
    if (inherits(try(write_biclusters(x, path), silent = TRUE), "try-error")) next
    written <- written + 1
    read <- read_biclusters(path, num_rows = num_rows, num_columns = max(num_columns, 0))
    expect_identical(read$rows, lapply(rows, as.integer))
    before <- bytes_of(path)
    write_biclusters(read, path)
    expect_identical(bytes_of(path), before)
  }
  unlink(path)
  expect_gt(written, 100)
})

test_that("a seed from R's generator makes a script repeatable", {
  set.seed(42)
  expected <- floor(runif(1) * 2^32)
  set.seed(42)
  expect_identical(draw_biclusters(100, 3, 5, 1, 20)$seed, expected)
  set.seed(42)
  first <- draw_biclusters(100, 3, 5, 1, 20)
  set.seed(42)
  second <- draw_biclusters(100, 3, 5, 1, 20)
  expect_identical(first, second)
  expect_true(first$seed >= 0 && first$seed <= 4294967295 && first$seed == trunc(first$seed))
  expect_identical(draw_biclusters(100, 3, 5, 1, 20, seed = first$seed)$rows, first$rows)
})

test_that("the tool's refusals and R's bad forms are R errors", {
  cases <- list(
    list(quote(draw_biclusters(10, 4, 2, 1, 11)), "Max rows (11) is greater than num rows (10)"),
    list(quote(draw_biclusters(-5, 4, 2, -9, -6)), "Num rows (-5) must not be negative"),
    list(quote(draw_biclusters(10, 4, 2, 6, 5)), "Min rows (6) is greater than max rows (5)"),
    list(quote(draw_biclusters(6, 4, 2, 1, 3, fixed_row = 7)),
         "Fixed row (7) must be NA or a row number from 1 to 6"),
    list(quote(draw_biclusters(6, 4, 2, 1, 3, fixed_row = 0)),
         "Fixed row (0) must be NA or a row number from 1 to 6"),
    list(quote(draw_biclusters(0, 4, 2, 0, 0, fixed_row = 1)),
         "Fixed row (1) must be NA when num rows is 0"),
    list(quote(draw_biclusters(NA, 4, 2, 1, 3)), "`num_rows` must be a whole number"),
    list(quote(draw_biclusters("6", 4, 2, 1, 3)), "`num_rows` must be a whole number"),
    list(quote(draw_biclusters(6, 4.5, 2, 1, 3)), "`num_columns` must be a whole number"),
    list(quote(draw_biclusters(6, 4, 2^31, 1, 3)), "`num_biclusters` must be a whole number"),
    list(quote(draw_biclusters(6, 4, 2, c(1, 2), 3)), "`min_rows` must be a whole number"),
    list(quote(draw_biclusters(6, 4, 2, 1, TRUE)), "`max_rows` must be a whole number"),
    list(quote(draw_biclusters(6, 4, 2, 1, 3, fixed_row = NaN)),
         "`fixed_row` must be a whole number"),
    list(quote(draw_biclusters(6, 4, 2, 1, 3, seed = -1)),
         "`seed` must be a whole number from 0 to 4294967295"),
    list(quote(draw_biclusters(6, 4, 2, 1, 3, seed = 2^32)),
         "`seed` must be a whole number from 0 to 4294967295"),
    list(quote(draw_biclusters(6, 4, 2, 1, 3, seed = NA)), "`seed` must be a whole number"),
    list(quote(draw_biclusters(2147483647, 1, 2147483647, 2147483647, 2147483647)),
         "Could not allocate memory"),
    list(quote(write_biclusters(list(), tempfile())), "must be an initial_biclusters object"),
    list(quote(read_biclusters(tempfile())), "No such file or directory"),
    list(quote(read_biclusters(data_file("example.txt"), num_rows = 4)),
         "line 2: -1 or a row number below 4, found '4\\n'"))
  for (case in cases) {
    expect_error(eval(case[[1]]), case[[2]], fixed = TRUE)
  }
})

test_that("each malformed form of a file is an error that names its line", {
  forms <- list(
    c("BICLUSTER 1\n", "line 1: the bicluster index 0"),
    c("BICLUSTER 0\n03\n", "line 2: the fixed row, a number alone on its line, found '03\\n'"),
    c("BICLUSTER 0\n-1\n5 5 \n", "line 3: a row not listed before in this bicluster"),
    c("BICLUSTER 0\n-1\n5 x\n", "line 3: a row number followed by one space, found 'x\\n'"),
    c("BICLUSTER 0\n-1\n\n-1\n0 2 \n", "line 5: column 1 followed by one space, found '2 '"),
    c("BICLUSTER 0\n-1\n\n-1\n0 ", "line 5: column 1 followed by one space, found the end"))
  for (form in forms) {
    path <- tempfile()
    writeBin(charToRaw(form[1]), path)
    expect_error(read_biclusters(path), form[2], fixed = TRUE)
    unlink(path)
  }
})

test_that("a path with ~ is the home folder's", {
  home <- Sys.getenv("HOME")
  on.exit(Sys.setenv(HOME = home))
  Sys.setenv(HOME = tempdir())
  write_biclusters(draw_biclusters(6, 4, 2, 2, 3, 5, 3, seed = 1), "~/tilde.txt")
  expect_identical(bytes_of(file.path(tempdir(), "tilde.txt")), bytes_of(data_file("example.txt")))
  expect_length(read_biclusters("~/tilde.txt"), 2)
  unlink(file.path(tempdir(), "tilde.txt"))
})

test_that("an interrupt during a draw is R's interrupt condition", {
  script <- tempfile(fileext = ".R")
  started <- tempfile()
  writeLines(c(
    sprintf("library(initbicluster, lib.loc = %s)",
            deparse(dirname(find.package("initbicluster")))),
    sprintf("writeLines(as.character(Sys.getpid()), %s)", deparse(started)),
    "tryCatch(draw_biclusters(5e7, 1, 30, 5e7, 5e7, seed = 1),",
    "         interrupt = function(condition) cat('interrupted\n'))",
    "cat('carried on\n')"), script)
  output <- tempfile()
  system2(file.path(R.home("bin"), "Rscript"), script, stdout = output, stderr = output,
          wait = FALSE)
  for (i in 1:200) if (file.exists(started) && length(readLines(started)) == 1) break else
    Sys.sleep(0.05)
  Sys.sleep(0.5)
  tools::pskill(as.integer(readLines(started)), tools::SIGINT)
  for (i in 1:200) if ("carried on" %in% readLines(output)) break else Sys.sleep(0.05)
  # R starts a new line where the interrupt came.
  expect_identical(setdiff(readLines(output), ""), c("interrupted", "carried on"))
})

test_that("membership matrices mark each bicluster's rows", {
  x <- draw_biclusters(300, 40, 12, 5, 60, fixed_row = 18, fixed_column = 40, seed = 31337)
  dense <- as_membership(x, sparse = FALSE)
  sparse <- as_membership(x)
  expect_s4_class(sparse, "ngCMatrix")
  expect_identical(dim(dense), c(300L, 12L))
  expect_identical(dim(sparse), c(300L, 12L))
  for (j in seq_along(x$rows)) {
    expect_identical(which(dense[, j] == 1), sort(x$rows[[j]]))
    expect_identical(which(as.vector(sparse[, j])), sort(x$rows[[j]]))
  }
  expect_equal(sum(dense), sum(lengths(x$rows)))
})

test_that("a plot draws without error", {
  grDevices::pdf(NULL)
  on.exit(grDevices::dev.off())
  x <- draw_biclusters(3000, 10, 40, 10, 400, fixed_row = 1, seed = 1)
  expect_identical(plot(x, most = 100), x)
  expect_identical(plot(x[0]), x[0])
})

test_that("the citation reads without a warning", {
  expect_no_warning(utils::citation("initbicluster"))
})

test_that("subsets, length and printing keep the class", {
  x <- draw_biclusters(300, 40, 12, 5, 60, seed = 31337)
  expect_length(x, 12)
  first <- x[1:3]
  expect_s3_class(first, "initial_biclusters")
  expect_identical(first$rows, x$rows[1:3])
  expect_output(print(x), "12 initial biclusters of a 300 x 40 matrix")
  expect_false(isTRUE(all.equal(x, first)))
})

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
  expect_identical(x$fixed_column, 3L)
  none <- draw_biclusters(6, 4, 2, 2, 3, seed = 1)
  expect_identical(none$fixed_row, NA_integer_)
  expect_identical(none$fixed_column, NA_integer_)
  # A fixed column outside the matrix is kept, and lists every column.
  outside <- draw_biclusters(6, 4, 1, 2, 3, fixed_column = 9, seed = 1)
  written <- tempfile()
  write_biclusters(outside, written)
  expect_identical(readLines(written)[4:5], c("8", "0 1 2 3 "))
  expect_identical(read_biclusters(written)$fixed_column, 9L)
  unlink(written)
})

test_that("a seed from R's generator makes a script repeatable", {
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

test_that("subsets, length and printing keep the class", {
  x <- draw_biclusters(300, 40, 12, 5, 60, seed = 31337)
  expect_length(x, 12)
  first <- x[1:3]
  expect_s3_class(first, "initial_biclusters")
  expect_identical(first$rows, x$rows[1:3])
  expect_output(print(x), "12 initial biclusters of a 300 x 40 matrix")
  expect_false(isTRUE(all.equal(x, first)))
})

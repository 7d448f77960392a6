#' Initial biclusters with the exact draws of init_bicluster
#'
#' Draws initial biclusters for a biclustering run: random sets of rows, of a
#' size between a least and a greatest count, each with every column,
#' optionally with one fixed row in every bicluster and one fixed column
#' recorded apart. For a given seed the rows are exactly those that the
#' command-line tool `init_bicluster --seed` writes, on every machine.
#'
#' @name initbicluster-package
#' @aliases initbicluster
#' @useDynLib initbicluster, .registration = TRUE, .fixes = "C_"
"_PACKAGE"

# The 32-bit range of the tool's numbers.
int32_least <- -2147483648
int32_most <- 2147483647

# `x` as a whole number from `least` to `most`, or an R error that names it.
whole_number <- function(x, name, least = int32_least, most = int32_most) {
  if (!is.numeric(x) || length(x) != 1L || is.na(x) || x != trunc(x) || x < least ||
      x > most) {
    stop(sprintf("`%s` must be a whole number from %s to %s", name,
                 format(least, scientific = FALSE), format(most, scientific = FALSE)),
         call. = FALSE)
  }
  as.double(x)
}

# `x` as a 1-based index, or NA; `NA` stands for none.
index_or_na <- function(x, name) {
  if (length(x) == 1L && is.na(x) && !is.nan(x)) return(NA_real_)
  whole_number(x, name, int32_least + 1, int32_most)
}

#' Draw initial biclusters
#'
#' Draws `num_biclusters` biclusters of a `num_rows` by `num_columns` matrix.
#' Each takes a size from `min_rows` to `max_rows` (the fixed row, when there
#' is one, counts in it and belongs to every bicluster), then that many rows
#' drawn at random without repetition, and every column. The matrix itself is
#' not needed: only its dimensions matter.
#'
#' @param num_rows,num_columns The dimensions of the data matrix.
#' @param num_biclusters How many biclusters to draw; none when 0 or less.
#' @param min_rows,max_rows The least and greatest size of a bicluster, fixed
#'   row included. `max_rows` may not exceed `num_rows`, nor `min_rows`
#'   `max_rows`.
#' @param fixed_row A row (from 1 to `num_rows`) that every bicluster holds,
#'   or `NA` for none.
#' @param fixed_column A column recorded apart in every bicluster, or `NA`
#'   for none; one outside 1 to `num_columns` leaves every column listed.
#' @param seed A whole number from 0 to 4294967295: the biclusters that
#'   `init_bicluster --seed` writes with the same value. `NULL` takes a seed
#'   from R's generator, so that [set.seed()] makes a script repeatable.
#' @return An object of class `initial_biclusters`: a list with `rows` (one
#'   integer vector per bicluster, the fixed row first when there is one, then
#'   the other rows in the order drawn), `fixed_row` and `fixed_column`
#'   (1-based, or `NA`), `num_rows`, `num_columns`, and `seed`, the seed used.
#'   Rows and columns are numbered from 1; the file format of
#'   [write_biclusters()] numbers them from 0.
#' @examples
#' x <- draw_biclusters(6, 4, 2, 2, 3, fixed_row = 5, fixed_column = 3, seed = 1)
#' x
#' x$rows
#' @export
draw_biclusters <- function(num_rows, num_columns, num_biclusters, min_rows, max_rows,
                            fixed_row = NA, fixed_column = NA, seed = NULL) {
  numbers <- c(whole_number(num_rows, "num_rows"), whole_number(num_columns, "num_columns"),
               whole_number(num_biclusters, "num_biclusters"),
               whole_number(min_rows, "min_rows"), whole_number(max_rows, "max_rows"))
  fixed_row <- index_or_na(fixed_row, "fixed_row")
  fixed_column <- index_or_na(fixed_column, "fixed_column")
  seed <- if (is.null(seed)) {
    floor(stats::runif(1) * 4294967296)
  } else {
    whole_number(seed, "seed", 0, 4294967295)
  }
  # A fixed row below 1 is no row: -2 makes the check refuse it.
  zero_based <- as.integer(c(numbers,
                             if (is.na(fixed_row)) -1 else if (fixed_row < 1) -2 else fixed_row - 1,
                             if (is.na(fixed_column)) -1 else fixed_column - 1))
  refusal <- .Call(C_initbicluster_check, zero_based)
  if (nzchar(refusal)) {
    # The fixed row is told in R's numbering; every other refusal as the tool
    # words it.
    if (!nzchar(.Call(C_initbicluster_check, replace(zero_based, 6L, -1L)))) {
      refusal <- if (numbers[1] == 0) {
        sprintf("Fixed row (%s) must be NA when num rows is 0", format(fixed_row))
      } else {
        sprintf("Fixed row (%s) must be NA or a row number from 1 to %s", format(fixed_row),
                format(numbers[1]))
      }
    }
    stop(refusal, call. = FALSE)
  }
  rows <- .Call(C_initbicluster_draw, zero_based, seed)
  new_initial_biclusters(rows, zero_based[1], zero_based[2], zero_based[6], zero_based[7],
                         seed)
}

# The object, from 1-based rows and the 0-based fixed row and column.
new_initial_biclusters <- function(rows, num_rows, num_columns, fixed_row, fixed_column,
                                   seed) {
  structure(list(rows = rows,
                 fixed_row = if (fixed_row == -1L) NA_integer_ else fixed_row + 1L,
                 fixed_column = if (fixed_column == -1L) NA_integer_ else fixed_column + 1L,
                 num_rows = as.integer(num_rows), num_columns = as.integer(num_columns),
                 seed = as.double(seed)),
            class = "initial_biclusters")
}

# The shape of `x` for the library: dimensions, then the fixed row and column
# 0-based, -1 for none.
shape_of <- function(x) {
  as.integer(c(x$num_rows, x$num_columns,
               if (is.na(x$fixed_row)) -1 else x$fixed_row - 1,
               if (is.na(x$fixed_column)) -1 else x$fixed_column - 1))
}

#' Write initial biclusters to a file
#'
#' Writes `x` in the file format of `init_bicluster`: byte for byte the file
#' the tool writes for the same arguments and seed. Rows and columns are
#' numbered from 0 in the file. An existing file is replaced whole by a new
#' one once every byte is written, keeping its owner, mode and attributes, so
#' that a failure leaves the old file as it was; where that cannot be, it is
#' written in place (see the tool's manual page).
#'
#' @param x An `initial_biclusters` object.
#' @param file The path of the file.
#' @return `file`, invisibly.
#' @examples
#' x <- draw_biclusters(6, 4, 2, 2, 3, fixed_row = 5, fixed_column = 3, seed = 1)
#' path <- tempfile()
#' write_biclusters(x, path)
#' cat(readLines(path), sep = "\n")
#' unlink(path)
#' @export
write_biclusters <- function(x, file) {
  if (!inherits(x, "initial_biclusters")) {
    stop("`x` must be an initial_biclusters object", call. = FALSE)
  }
  if (!is.character(file) || length(file) != 1L || is.na(file)) {
    stop("`file` must be one path", call. = FALSE)
  }
  .Call(C_initbicluster_write, x$rows, shape_of(x), path.expand(file))
  invisible(file)
}

#' Read initial biclusters from a file
#'
#' Reads a file in the format of `init_bicluster`, strictly: anything the
#' tool would not write is an error that names the line and what was
#' expected there.
#'
#' @param file The path of the file.
#' @param num_rows,num_columns The dimensions of the matrix, which the rows
#'   and the column list are checked against; when `NA`, the smallest the file
#'   allows (one past the largest row named; the listed columns, and the fixed
#'   column where it falls among them).
#' @return An `initial_biclusters` object whose `seed` is `NA`.
#' @examples
#' x <- draw_biclusters(6, 4, 2, 2, 3, fixed_row = 5, fixed_column = 3, seed = 1)
#' path <- tempfile()
#' write_biclusters(x, path)
#' y <- read_biclusters(path, num_rows = 6)
#' all.equal(x, y)
#' unlink(path)
#' @export
read_biclusters <- function(file, num_rows = NA, num_columns = NA) {
  if (!is.character(file) || length(file) != 1L || is.na(file)) {
    stop("`file` must be one path", call. = FALSE)
  }
  dimension <- function(value, name) {
    if (length(value) == 1L && is.na(value) && !is.nan(value)) -1L
    else as.integer(whole_number(value, name, 0, int32_most))
  }
  read <- .Call(C_initbicluster_read, path.expand(file), dimension(num_rows, "num_rows"),
                dimension(num_columns, "num_columns"))
  new_initial_biclusters(read[[1]], read[[2]], read[[3]], read[[4]], read[[5]], NA_real_)
}

#' Membership matrix of initial biclusters
#'
#' The rows by biclusters membership matrix of `x`, fixed row included: the
#' layout in which biclustering packages take starting row sets.
#'
#' @param x An `initial_biclusters` object.
#' @param sparse Whether to return a sparse pattern matrix (`ngCMatrix` of
#'   package Matrix) rather than a numeric 0/1 matrix.
#' @return A `num_rows` by `length(x)` matrix whose column `j` marks the rows
#'   of bicluster `j`.
#' @examples
#' x <- draw_biclusters(6, 4, 2, 2, 3, seed = 1)
#' as_membership(x, sparse = FALSE)
#' @export
as_membership <- function(x, sparse = TRUE) {
  if (!inherits(x, "initial_biclusters")) {
    stop("`x` must be an initial_biclusters object", call. = FALSE)
  }
  counts <- lengths(x$rows)
  rows <- unlist(lapply(x$rows, sort), use.names = FALSE)
  if (isTRUE(sparse)) {
    return(Matrix::sparseMatrix(i = rows, p = c(0L, cumsum(counts)),
                                dims = c(x$num_rows, length(x$rows))))
  }
  membership <- matrix(0, nrow = x$num_rows, ncol = length(x$rows))
  membership[cbind(rows, rep(seq_along(counts), counts))] <- 1
  membership
}

#' @export
format.initial_biclusters <- function(x, ...) {
  counts <- lengths(x$rows)
  sizes <- if (length(counts) == 0) "" else
    sprintf(", sizes %s to %s", min(counts), max(counts))
  c(sprintf("%d initial biclusters of a %d x %d matrix%s", length(x$rows), x$num_rows,
            x$num_columns, sizes),
    sprintf("fixed row %s, fixed column %s, seed %s", format(x$fixed_row),
            format(x$fixed_column), format(x$seed, scientific = FALSE)))
}

#' @export
print.initial_biclusters <- function(x, ...) {
  cat(format(x, ...), sep = "\n")
  invisible(x)
}

#' @export
length.initial_biclusters <- function(x) length(x$rows)

#' @export
`[.initial_biclusters` <- function(x, i) {
  kept <- unclass(x)
  kept$rows <- kept$rows[i]
  structure(kept, class = "initial_biclusters")
}

#' @method all.equal initial_biclusters
#' @export
all.equal.initial_biclusters <- function(target, current, ...) {
  if (!inherits(current, "initial_biclusters")) {
    return("`current` is not an initial_biclusters object")
  }
  # The seed tells how the biclusters were had, not what they are.
  fields <- c("rows", "fixed_row", "fixed_column", "num_rows", "num_columns")
  all.equal(unclass(target)[fields], unclass(current)[fields], ...)
}

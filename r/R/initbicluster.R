#' Initial biclusters with the exact draws of init_bicluster
#'
#' Draws initial biclusters for a biclustering run: random sets of rows, of a
#' size between a least and a greatest count, each with every column,
#' optionally with one fixed row in every bicluster and one fixed column
#' recorded apart. For a given seed the rows are exactly those that the
#' command-line tool `init_bicluster --seed` writes, on every machine.
#'
#' A set of initial biclusters is a list: one integer vector of 1-based rows
#' per bicluster, the fixed row first. Its matrix is kept with it, read with
#' `$`: `x$num_rows`, `x$num_columns`, `x$fixed_row`, `x$fixed_column` (`NA`
#' for none) and `x$seed` (`NA` when no seed draws these biclusters, as for a
#' selection or a join). See [draw_biclusters()], [initial_biclusters()],
#' [write_biclusters()], [read_biclusters()], [as_membership()] and
#' `vignette("initbicluster")`.
#'
#' @name initbicluster-package
#' @aliases initbicluster
#' @useDynLib initbicluster, .registration = TRUE, .fixes = "C_"
"_PACKAGE"

# The 32-bit range of the tool's numbers.
int32_least <- -2147483648
int32_most <- 2147483647

# The fields of a set of initial biclusters, kept as its attributes.
fields <- c("num_rows", "num_columns", "fixed_row", "fixed_column", "seed")

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

# Whether `x` is one NA, which stands for none.
is_none <- function(x) length(x) == 1L && is.na(x) && !is.nan(x)

# The fixed row `x` of a matrix of `num_rows` rows, 1-based, or NA.
fixed_row_of <- function(x, num_rows) {
  if (is_none(x)) return(NA_real_)
  if (num_rows == 0) {
    if (!is.numeric(x) || length(x) != 1L) whole_number(x, "fixed_row")
    stop(sprintf("`fixed_row` must be NA when num_rows is 0, not %s", format(x)), call. = FALSE)
  }
  whole_number(x, "fixed_row", 1, num_rows)
}

# The fixed column `x`, 1-based, or NA. Any column of the tool's 32-bit range
# is taken, one outside the matrix too; but 0, which is -1 in the file, the
# file's none, must be NA.
fixed_column_of <- function(x) {
  if (is_none(x)) return(NA_real_)
  column <- whole_number(x, "fixed_column", int32_least + 1, int32_most + 1)
  if (column == 0) {
    stop("`fixed_column` must be NA for none, not 0 (the file's -1)", call. = FALSE)
  }
  column
}

# The fields of `x` checked, as a list: every one a whole number in range, or
# NA where NA is allowed. An R error names the first that is not.
checked_fields <- function(x) {
  num_rows <- whole_number(attr(x, "num_rows", exact = TRUE), "num_rows", 0)
  seed <- attr(x, "seed", exact = TRUE)
  list(num_rows = num_rows,
       num_columns = whole_number(attr(x, "num_columns", exact = TRUE), "num_columns"),
       fixed_row = fixed_row_of(attr(x, "fixed_row", exact = TRUE), num_rows),
       fixed_column = fixed_column_of(attr(x, "fixed_column", exact = TRUE)),
       seed = if (is_none(seed)) NA_real_ else whole_number(seed, "seed", 0, 4294967295))
}

# The shape of the matrix for the library: dimensions, then the fixed row and
# column 0-based, -1 for none.
shape_of <- function(checked) {
  c(checked$num_rows, checked$num_columns,
    if (is.na(checked$fixed_row)) -1 else checked$fixed_row - 1,
    if (is.na(checked$fixed_column)) -1 else checked$fixed_column - 1)
}

# Stops unless `x` is a set of initial biclusters.
check_class <- function(x) {
  if (!inherits(x, "initial_biclusters")) {
    stop("`x` must be an initial_biclusters object", call. = FALSE)
  }
}

# The object, from 1-based integer rows already checked and checked fields.
new_initial_biclusters <- function(rows, checked) {
  structure(rows, num_rows = as.integer(checked$num_rows), num_columns = checked$num_columns,
            fixed_row = as.integer(checked$fixed_row), fixed_column = checked$fixed_column,
            seed = checked$seed, class = "initial_biclusters")
}

#' Make initial biclusters of your own
#'
#' Makes a set of initial biclusters from row numbers, checking them as
#' [write_biclusters()] does, so that a set made here can always be written.
#'
#' @param rows A list with one vector of row numbers (from 1 to `num_rows`)
#'   per bicluster: integers, or doubles that are whole numbers. Rows are
#'   distinct within a bicluster, and when there is a fixed row, it stands
#'   first in every bicluster and nowhere else.
#' @param num_rows,num_columns The dimensions of the matrix. `num_columns` may
#'   be 0 or less, as the tool allows: no column is then listed.
#' @param fixed_row The row every bicluster holds first, or `NA` for none.
#' @param fixed_column A column recorded apart, or `NA` for none (not 0, which
#'   the file would read as none). One outside 1 to `num_columns` is taken, as
#'   the tool takes it: every column is then listed.
#' @return An `initial_biclusters` object (see [initbicluster-package]) whose
#'   seed is `NA`.
#' @examples
#' x <- initial_biclusters(list(c(2, 5, 1), c(2, 3)), num_rows = 6, num_columns = 4,
#'                         fixed_row = 2)
#' x
#' x[[1]]
#' @export
initial_biclusters <- function(rows, num_rows, num_columns, fixed_row = NA, fixed_column = NA) {
  if (!is.list(rows)) stop("`rows` must be a list of row number vectors", call. = FALSE)
  num_rows <- whole_number(num_rows, "num_rows", 0)
  checked <- list(num_rows = num_rows, num_columns = whole_number(num_columns, "num_columns"),
                  fixed_row = fixed_row_of(fixed_row, num_rows),
                  fixed_column = fixed_column_of(fixed_column), seed = NA_real_)
  rows <- .Call(C_initbicluster_rows, unname(rows), shape_of(checked))
  new_initial_biclusters(rows, checked)
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
#'   for none (not 0, which the file would read as none); one outside 1 to
#'   `num_columns` leaves every column listed.
#' @param seed A whole number from 0 to 4294967295: the biclusters that
#'   `init_bicluster --seed` writes with the same value. `NULL` takes a seed
#'   from R's generator, so that [set.seed()] makes a script repeatable.
#' @return An `initial_biclusters` object (see [initbicluster-package]): a list
#'   of integer vectors, one per bicluster, the fixed row first when there is
#'   one, then the other rows in the order drawn, with the matrix's fields and
#'   the seed used. Rows and columns are numbered from 1; the file format of
#'   [write_biclusters()] numbers them from 0.
#' @examples
#' x <- draw_biclusters(6, 4, 2, 2, 3, fixed_row = 5, fixed_column = 3, seed = 1)
#' x
#' x[[1]]
#' lengths(x)
#' @export
draw_biclusters <- function(num_rows, num_columns, num_biclusters, min_rows, max_rows,
                            fixed_row = NA, fixed_column = NA, seed = NULL) {
  numbers <- c(whole_number(num_rows, "num_rows"), whole_number(num_columns, "num_columns"),
               whole_number(num_biclusters, "num_biclusters"),
               whole_number(min_rows, "min_rows"), whole_number(max_rows, "max_rows"))
  fixed_row <- if (is_none(fixed_row)) NA_real_ else whole_number(fixed_row, "fixed_row")
  fixed_column <- fixed_column_of(fixed_column)
  seed <- if (is.null(seed)) {
    floor(stats::runif(1) * 4294967296)
  } else {
    whole_number(seed, "seed", 0, 4294967295)
  }
  # A fixed row below 1 is no row: -2 makes the check refuse it.
  zero_based <- c(numbers,
                  if (is.na(fixed_row)) -1 else if (fixed_row < 1) -2 else fixed_row - 1,
                  if (is.na(fixed_column)) -1 else fixed_column - 1)
  refusal <- .Call(C_initbicluster_check, zero_based)
  if (nzchar(refusal)) {
    # The fixed row is told in R's numbering; every other refusal as the tool
    # words it.
    if (!nzchar(.Call(C_initbicluster_check, replace(zero_based, 6L, -1)))) {
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
  new_initial_biclusters(rows, list(num_rows = numbers[1], num_columns = numbers[2],
                                    fixed_row = fixed_row, fixed_column = fixed_column,
                                    seed = seed))
}

#' Write initial biclusters to a file
#'
#' Writes `x` in the file format of `init_bicluster`: byte for byte the file
#' the tool writes for the same arguments and seed. Rows and columns are
#' numbered from 0 in the file. Every field of `x` and every row is checked
#' first. An existing file is replaced whole by a new one once every byte is
#' written, keeping its owner, mode and attributes, so that a failure leaves
#' the old file as it was; where that cannot be, it is written in place (see
#' the tool's manual page).
#'
#' @param x An `initial_biclusters` object.
#' @param file The path of the file; `~` is expanded.
#' @return `file`, invisibly.
#' @examples
#' x <- draw_biclusters(6, 4, 2, 2, 3, fixed_row = 5, fixed_column = 3, seed = 1)
#' path <- tempfile()
#' write_biclusters(x, path)
#' cat(readLines(path), sep = "\n")
#' unlink(path)
#' @export
write_biclusters <- function(x, file) {
  check_class(x)
  if (!is.character(file) || length(file) != 1L || is.na(file)) {
    stop("`file` must be one path", call. = FALSE)
  }
  .Call(C_initbicluster_write, as.list(x), shape_of(checked_fields(x)), path.expand(file))
  invisible(file)
}

#' Read initial biclusters from a file
#'
#' Reads a file in the format of `init_bicluster`, strictly: anything the
#' tool would not write is an error that names the line and what was
#' expected there. The file is read a block at a time, so that input that
#' goes wrong is refused at its first bad line, and a file that grows while
#' it is read is read as long as it was.
#'
#' @param file The path of the file; `~` is expanded.
#' @param num_rows,num_columns The dimensions of the matrix, which the rows
#'   and the column list are checked against; when `NA`, the smallest the file
#'   allows (one past the largest row named; the listed columns, and the fixed
#'   column where it falls among them).
#' @return An `initial_biclusters` object whose seed is `NA`.
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
    if (is_none(value)) -1L else as.integer(whole_number(value, name, 0, int32_most))
  }
  read <- .Call(C_initbicluster_read, path.expand(file), dimension(num_rows, "num_rows"),
                dimension(num_columns, "num_columns"))
  new_initial_biclusters(read[[1]], list(
    num_rows = read[[2]], num_columns = read[[3]],
    fixed_row = if (read[[4]] == -1) NA_real_ else read[[4]] + 1,
    fixed_column = if (read[[5]] == -1) NA_real_ else read[[5]] + 1, seed = NA_real_))
}

#' Membership matrix of initial biclusters
#'
#' The rows by biclusters membership matrix of `x`, fixed row included: the
#' layout in which biclustering packages take starting row sets. For the
#' logical matrices of package biclust's `Biclust` class, see
#' `vignette("initbicluster")`.
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
  check_class(x)
  checked <- checked_fields(x)
  rows <- .Call(C_initbicluster_rows, as.list(x), shape_of(checked))
  counts <- lengths(rows)
  members <- unlist(rows, use.names = FALSE)
  biclusters <- rep.int(seq_along(counts), counts)
  if (isTRUE(sparse)) {
    return(Matrix::sparseMatrix(i = members, j = biclusters,
                                dims = c(checked$num_rows, length(rows))))
  }
  membership <- matrix(0, nrow = checked$num_rows, ncol = length(rows))
  membership[cbind(members, biclusters)] <- 1
  membership
}

#' @method format initial_biclusters
#' @export
format.initial_biclusters <- function(x, ...) {
  counts <- lengths(x)
  sizes <- if (length(counts) == 0) "" else
    sprintf(", sizes %s to %s", min(counts), max(counts))
  seed <- attr(x, "seed", exact = TRUE)
  c(sprintf("%d initial biclusters of a %s x %s matrix%s", length(x),
            format(attr(x, "num_rows", exact = TRUE), scientific = FALSE),
            format(attr(x, "num_columns", exact = TRUE), scientific = FALSE), sizes),
    sprintf("fixed row %s, fixed column %s, %s",
            format(attr(x, "fixed_row", exact = TRUE)),
            format(attr(x, "fixed_column", exact = TRUE), scientific = FALSE),
            if (is_none(seed)) "no seed (selected, joined, made or read)" else
              paste("seed", format(seed, scientific = FALSE))))
}

#' @method print initial_biclusters
#' @export
print.initial_biclusters <- function(x, ...) {
  cat(format(x, ...), sep = "\n")
  invisible(x)
}

#' @export
`$.initial_biclusters` <- function(x, name) {
  if (name == "rows") return(as.list(x))
  if (!name %in% fields) {
    stop(sprintf("initial biclusters have no field `%s`; they have rows, %s", name,
                 paste(fields, collapse = ", ")), call. = FALSE)
  }
  attr(x, name, exact = TRUE)
}

#' @export
`$<-.initial_biclusters` <- function(x, name, value) {
  values <- c(list(rows = as.list(x)), attributes(x)[fields])
  if (!name %in% names(values)) {
    stop(sprintf("initial biclusters have no field `%s`", name), call. = FALSE)
  }
  values[name] <- list(value)
  made <- initial_biclusters(values$rows, values$num_rows, values$num_columns,
                             values$fixed_row, values$fixed_column)
  # The seed still draws these biclusters only when nothing else changed.
  if (name == "seed") {
    attr(made, "seed") <- if (is_none(value)) NA_real_ else
      whole_number(value, "seed", 0, 4294967295)
  }
  made
}

#' @export
`[.initial_biclusters` <- function(x, i) {
  if (missing(i)) return(x)
  count <- length(x)
  if (is.character(i)) {
    stop("initial biclusters have no names: select them by number or with a logical vector",
         call. = FALSE)
  }
  if (!is.numeric(i) && !is.logical(i) || anyNA(i)) {
    stop("select initial biclusters by number or with a logical vector, without NA",
         call. = FALSE)
  }
  if (is.logical(i) && length(i) > count || is.numeric(i) && any(abs(i) > count)) {
    stop(sprintf("subscript out of bounds: there are %d initial biclusters", count),
         call. = FALSE)
  }
  checked <- attributes(x)[fields]
  checked$seed <- NA_real_
  new_initial_biclusters(as.list(x)[i], checked)
}

# `rows` as biclusters of the matrix of `x`, checked; no seed draws them.
remade <- function(x, rows) {
  initial_biclusters(rows, attr(x, "num_rows"), attr(x, "num_columns"), attr(x, "fixed_row"),
                     attr(x, "fixed_column"))
}

#' @export
`[[<-.initial_biclusters` <- function(x, i, value) {
  rows <- as.list(x)
  rows[[i]] <- value
  remade(x, rows)
}

#' @export
`[<-.initial_biclusters` <- function(x, i, value) {
  rows <- as.list(x)
  rows[i] <- value
  remade(x, rows)
}

#' @export
as.list.initial_biclusters <- function(x, ...) {
  attributes(x) <- NULL
  x
}

#' @export
c.initial_biclusters <- function(...) {
  sets <- list(...)
  if (!all(vapply(sets, inherits, logical(1), "initial_biclusters"))) {
    stop("c() joins initial_biclusters objects only", call. = FALSE)
  }
  shape <- function(x) unlist(attributes(x)[fields[1:4]])
  first <- shape(sets[[1]])
  if (!all(vapply(sets, function(x) identical(shape(x), first), logical(1)))) {
    stop("c() joins initial biclusters of the same matrix, fixed row and fixed column only",
         call. = FALSE)
  }
  checked <- attributes(sets[[1]])[fields]
  checked$seed <- NA_real_
  new_initial_biclusters(do.call(c, lapply(sets, as.list)), checked)
}

#' @method all.equal initial_biclusters
#' @export
all.equal.initial_biclusters <- function(target, current, ...) {
  if (!inherits(current, "initial_biclusters")) {
    return("`current` is not an initial_biclusters object")
  }
  # The seed tells how the biclusters were had, not what they are.
  what <- function(x) c(list(rows = as.list(x)), attributes(x)[fields[1:4]])
  all.equal(what(target), what(current), ...)
}

#' Plot initial biclusters
#'
#' Draws which rows each bicluster holds, as an image of biclusters by rows,
#' and how many biclusters hold each row, as a line against the right axis.
#' Where there are more than `most` rows or biclusters, they are binned, and a
#' cell is then the share of its rows that its biclusters hold.
#'
#' @param x An `initial_biclusters` object.
#' @param most The most rows and biclusters drawn apart.
#' @param ... Passed on to [graphics::image()].
#' @return `x`, invisibly.
#' @examples
#' plot(draw_biclusters(500, 10, 30, 10, 100, fixed_row = 1, seed = 1))
#' @export
plot.initial_biclusters <- function(x, most = 1000, ...) {
  checked <- checked_fields(x)
  most <- whole_number(most, "most", 1)
  rows <- max(checked$num_rows, 1)
  count <- max(length(x), 1)
  row_bins <- min(rows, most)
  bicluster_bins <- min(count, most)
  members <- as.integer(unlist(as.list(x), use.names = FALSE))
  owner <- rep.int(seq_along(x), lengths(x))
  row_bin <- ((members - 1) * row_bins) %/% rows + 1
  held <- matrix(0, nrow = row_bins, ncol = bicluster_bins)
  cells <- table(factor(((owner - 1) * bicluster_bins) %/% count + 1,
                        levels = seq_len(bicluster_bins)),
                 factor(row_bin, levels = seq_len(row_bins)))
  held[] <- t(unclass(cells))
  size <- outer(tabulate(((seq_len(rows) - 1) * row_bins) %/% rows + 1, row_bins),
                tabulate(((seq_len(count) - 1) * bicluster_bins) %/% count + 1, bicluster_bins))
  old <- graphics::par(mar = c(4, 4, 2, 4))
  on.exit(graphics::par(old))
  graphics::image(seq(0, rows, length.out = row_bins + 1),
                  seq(0, count, length.out = bicluster_bins + 1), held / size,
                  col = grDevices::gray.colors(32, start = 1, end = 0), zlim = c(0, 1),
                  ylim = c(count, 0), xlab = "row", ylab = "bicluster",
                  main = sprintf("%d biclusters of a %s x %s matrix", length(x),
                                 format(checked$num_rows), format(checked$num_columns)), ...)
  cover <- tabulate(members, rows)
  binned <- tapply(cover, ((seq_len(rows) - 1) * row_bins) %/% rows + 1, mean)
  graphics::par(new = TRUE)
  graphics::plot((seq_len(row_bins) - 0.5) * rows / row_bins, binned, type = "l", col = "red",
                 axes = FALSE, xlab = "", ylab = "", xlim = c(0, rows),
                 ylim = c(0, max(binned, 1)), xaxs = "i")
  graphics::axis(4, col.axis = "red")
  graphics::mtext("biclusters holding the row", side = 4, line = 2.5, col = "red")
  invisible(x)
}

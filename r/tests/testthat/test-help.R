# Every help page, rendered as text and as HTML, shows what its source says:
# no markdown left raw, the tool's option with its two hyphens, and links
# that lead to a page.

# The targets of every \link in `rd`: (topic, package) pairs.
links_of <- function(rd) {
  found <- list()
  walk <- function(node) {
    if (identical(attr(node, "Rd_tag"), "\\link")) {
      option <- attr(node, "Rd_option")
      text <- paste(unlist(node), collapse = "")
      package <- NA
      topic <- text
      if (!is.null(option)) {
        option <- paste(unlist(option), collapse = "")
        if (startsWith(option, "=")) {
          topic <- substring(option, 2)
        } else {
          parts <- strsplit(option, ":", fixed = TRUE)[[1]]
          package <- parts[1]
          topic <- if (length(parts) > 1) parts[2] else text
        }
      }
      found[[length(found) + 1]] <<- c(topic, package)
    }
    if (is.list(node)) for (child in node) walk(child)
  }
  walk(rd)
  found
}

test_that("every help page renders as written and its links lead somewhere", {
  pages <- tools::Rd_db("initbicluster")
  expect_gte(length(pages), 7)
  for (name in names(pages)) {
    text <- paste(utils::capture.output(tools::Rd2txt(pages[[name]])), collapse = "\n")
    html <- paste(utils::capture.output(tools::Rd2HTML(pages[[name]])), collapse = "\n")
    expect_false(grepl("`", text, fixed = TRUE), label = paste(name, "has a backtick"))
    expect_false(grepl("[[]\\w+[(][)][]]", text), label = paste(name, "has a raw link"))
    for (page in c(text, html)) {
      expect_false(grepl("(^|[^-])-seed", page), label = paste(name, "shows -seed"))
      expect_false(grepl("\u2013seed|&ndash;seed", page), label = paste(name, "shows an en dash"))
    }
    # A link without a package leads to a page of this package or of those
    # it uses.
    for (link in links_of(pages[[name]])) {
      packages <- if (is.na(link[2])) {
        c("initbicluster", "base", "stats", "utils", "graphics", "grDevices", "Matrix")
      } else {
        link[2]
      }
      expect_true(length(utils::help(link[1], package = (packages))) > 0,
                  label = paste(name, "links to", link[1]))
    }
  }
  draw <- paste(utils::capture.output(tools::Rd2txt(pages[["draw_biclusters.Rd"]])),
                collapse = "\n")
  expect_match(draw, "init_bicluster --seed", fixed = TRUE)
})

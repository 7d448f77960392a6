library(testthat)
library(initbicluster)

test_check("initbicluster")

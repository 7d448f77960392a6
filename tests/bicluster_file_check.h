// An independent reading of a bicluster file, for checking what the tool wrote.
#ifndef INIT_BICLUSTER_TESTS_BICLUSTER_FILE_CHECK_H_
#define INIT_BICLUSTER_TESTS_BICLUSTER_FILE_CHECK_H_

#include <string>

#include "run_params.h"

namespace init_bicluster {

// Reads `text` as the file written for `params` and returns the first broken
// rule, or an empty string when it keeps them all: five-line records with
// indices from 0 up, the fixed row and fixed column on their lines, free rows
// distinct, in range, never the fixed row and as many as some size between
// min_rows and max_rows allows, and the full column list without the fixed
// column. Requires params accepted by check_run_params.
std::string check_bicluster_file(const std::string& text, const run_params& params);

}  // namespace init_bicluster

#endif  // INIT_BICLUSTER_TESTS_BICLUSTER_FILE_CHECK_H_

// Drawing random biclusters and writing their records.
#ifndef INIT_BICLUSTER_GENERATOR_H_
#define INIT_BICLUSTER_GENERATOR_H_

#include <cstdint>
#include <memory>

#include "output_sink.h"
#include "rand_generator.h"
#include "record_writer.h"
#include "row_collector.h"
#include "row_stamp.h"
#include "run_params.h"

namespace init_bicluster {

// What a run could not be given memory for.
enum class shortage { none, row_table, column_list, buffers };

// What a run makes: the text of the file, or each bicluster's rows.
enum class output_form { text, rows };

// One run's generation. `prepare` takes every piece of memory the run draws
// and writes with, so that a run short of memory fails before its output is
// opened; `write` then only computes and writes, on a few words of stack.
class bicluster_generator {
 public:
  // Sets up a run of `params` whose draws are those of `srand(seed)` and
  // rand(); takes no memory yet. Requires params accepted by
  // check_run_params, which outlive the generator.
  bicluster_generator(const run_params& params, uint32_t seed);

  bicluster_generator(const bicluster_generator&) = delete;
  bicluster_generator& operator=(const bicluster_generator&) = delete;
  ~bicluster_generator();

  // Takes the row table, the generator's blocks and, for text, the output
  // buffer and the ready-made column list, or, for rows, room for a
  // bicluster's free rows to start with. Returns shortage::none, or the first of
  // them that could not be had. Requires that it was not called before.
  shortage prepare(output_form form = output_form::text);

  // Writes the params.num_biclusters records (none when it is 0 or less) to
  // `sink`. For each bicluster in turn it takes one value for the size,
  // min_rows plus the value modulo (max_rows - min_rows + 1), counting the
  // fixed row when there is one, then one value per attempt at a free row
  // (the value modulo num_rows), discarding rows the bicluster already holds.
  // Stops at the sink's first failure. Returns 0, or the errno value of that
  // failure; does not close the sink. Requires a successful `prepare` and no
  // earlier `write`.
  int write(output_sink& sink);

  // Draws the same biclusters as `write`, in the same order, and hands each
  // one's index and free rows in the order drawn to `visitor`. Returns 0;
  // ECANCELED when the visitor stopped the run; or ENOMEM when a bicluster's
  // rows outgrew the memory the system gives. Requires a successful
  // prepare(output_form::rows) and no earlier `write` or `visit`.
  int visit(bicluster_visitor& visitor);

 private:
  struct workspace;

  template <typename writer_type>
  void generate_with(writer_type& writer);
  template <typename table_type, typename writer_type>
  void generate(table_type& table, writer_type& writer);

  const run_params& params_;
  const uint32_t seed_;
  row_stamp table_;
  record_writer writer_;
  row_collector collector_;
  std::unique_ptr<workspace> workspace_;
};

}  // namespace init_bicluster

#endif  // INIT_BICLUSTER_GENERATOR_H_

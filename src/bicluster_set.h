// Initial biclusters in memory: drawn without text in between, handed over
// one at a time or collected whole, written as the tool's file, and read back
// from such a file.
//
//   init_bicluster::bicluster_set set;
//   if (init_bicluster::draw_biclusters(params, seed, set) != 0) { ... }
//   for (std::size_t i = 0; i + 1 < set.offsets.size(); ++i) {
//     // bicluster i: set.rows[set.offsets[i]] .. set.rows[set.offsets[i + 1] - 1]
//   }
#ifndef INIT_BICLUSTER_BICLUSTER_SET_H_
#define INIT_BICLUSTER_BICLUSTER_SET_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "output_sink.h"
#include "run_params.h"

namespace init_bicluster {

// A whole run of biclusters in compressed-row form. Bicluster i holds the
// fixed row, when there is one, and its free rows rows[offsets[i]] to
// rows[offsets[i + 1] - 1] in the order drawn; every bicluster takes every
// column. The fixed row and fixed column are -1 when there is none.
struct bicluster_set {
  int32_t num_rows = 0;
  int32_t num_columns = 0;
  int32_t fixed_row = -1;
  int32_t fixed_column = -1;
  // One entry per bicluster and one more; offsets[0] is 0 and the last entry
  // is rows.size(). Empty only in a value that was never filled.
  std::vector<int64_t> offsets;
  std::vector<int32_t> rows;

  // The number of biclusters.
  std::size_t size() const { return offsets.empty() ? 0 : offsets.size() - 1; }

  bool operator==(const bicluster_set& other) const {
    return num_rows == other.num_rows && num_columns == other.num_columns &&
           fixed_row == other.fixed_row && fixed_column == other.fixed_column &&
           offsets == other.offsets && rows == other.rows;
  }
};

// Receives the biclusters of a run one at a time, as they are drawn.
class bicluster_visitor {
 public:
  virtual ~bicluster_visitor() = default;

  // Takes the bicluster `index` (from 0 upwards) and its `count` free rows
  // in the order drawn; `free_rows` is valid only during the call. Returns
  // whether the run goes on: false stops it before the next bicluster.
  virtual bool visit(int32_t index, const int32_t* free_rows, std::size_t count) = 0;

  // Asked now and then while biclusters are drawn (every few thousand
  // batches of draws, a few milliseconds of work), so that a caller can stop
  // a run within a large bicluster, as an interrupt needs. Returning true stops the run at once; the bicluster being
  // drawn is not handed over.
  virtual bool should_stop() { return false; }
};

// Draws the biclusters of `params` that the tool writes for `seed` (the same
// rows in the same order, on every processor) and hands each to `visitor`.
// Memory: the row table the tool uses, a few KiB, and room for the free rows
// of the largest bicluster drawn so far (4 bytes a row), whatever the number
// of biclusters. Returns 0; ENOMEM, before drawing, when the table cannot be
// had, or when a bicluster's rows outgrow the memory the system gives; or
// ECANCELED when the visitor stopped the run. Requires params
// accepted by check_run_params; params.output_filename is not used.
int draw_biclusters(const run_params& params, uint32_t seed, bicluster_visitor& visitor);

// Draws the same biclusters into `*set`, replacing what it held. The offsets
// take 8 bytes a bicluster, the rows 4 bytes a free row. Before drawing, room
// is asked of the system for the largest run the arguments allow
// (num_biclusters times the greatest free-row count), of which only the
// pages the rows fill are used; where the address space is too small for
// that, for a run of middling sizes, or of the smallest, and the rows grow
// from there. Returns 0; or ENOMEM, with `*set` empty, before drawing when
// not even the smallest run's room can be had, or when the rows outgrow the
// memory the system gives. Requires what draw_biclusters with a visitor
// requires.
int draw_biclusters(const run_params& params, uint32_t seed, bicluster_set& set);

// The same, asking `should_stop` now and then (as a visitor's should_stop is
// asked, and every few hundred biclusters): when it returns true, the run
// stops, `*set` is empty, and the call returns ECANCELED. For a binding that
// stops a run on an interrupt.
int draw_biclusters(const run_params& params, uint32_t seed, bicluster_set& set,
                    const std::function<bool()>& should_stop);

// Writes `set` to `sink` and closes it, byte for byte as the tool writes the
// file of the same run. Returns 0, ENOMEM, or the errno value of the sink's
// first failed write or close. Requires a set that read_biclusters would
// accept as written (as draw_biclusters and read_biclusters make).
int write_biclusters(const bicluster_set& set, output_sink& sink);

// Reads the bytes of a bicluster file into `*set`. Accepts exactly what the
// tool writes: five-line records with indices from 0 upwards, the same
// fixed-row line, fixed-column line and column list in every record, numbers
// as printf's "%d" writes them within 32 bits, every listed number followed
// by one space, line feeds only; a fixed row that is -1 or a row, free rows
// that are rows, distinct and not the fixed row; the column list ascending
// and holding every column but the fixed one. `num_rows` and `num_columns`,
// when not -1, are what the rows and the column list are checked against;
// when -1, they are taken as small as the file allows: one past the largest
// row named (0 when none is; rows stop below 2147483647, the tool's greatest
// count), and the count of listed columns, plus one when the fixed column
// falls among them (a fixed column just past the listed ones is taken as
// outside the matrix). Returns nothing when the file was read, or a message
// that names the line and what was expected there ("line 8: a row number
// followed by one space, found 'x'"), or k_reader_out_of_memory; `*set` is
// then unspecified. Never reads outside `text`; its memory grows with the
// biclusters read, not with the numbers named.
std::optional<std::string> read_biclusters(std::string_view text, bicluster_set& set,
                                           int32_t num_rows = -1, int32_t num_columns = -1);

// The message of the readers when the memory for the biclusters cannot be
// had.
inline constexpr std::string_view k_reader_out_of_memory =
    "out of memory while reading the biclusters";

// Reads a bicluster file from the open `descriptor` (a file, a pipe, a
// device) as read_biclusters reads its bytes, a block at a time as they
// come, so that input that goes wrong is refused at its first bad line
// after at most a MiB of it. A regular file is read as long as it was when
// this began: what is added to it meanwhile is not read. When `error` is
// not null, `*error` is set to 0, or to the errno value of a failed read
// (the message is then the system's reason) or ENOMEM (with
// k_reader_out_of_memory). Leaves the descriptor open.
std::optional<std::string> read_biclusters_from(int descriptor, bicluster_set& set,
                                                int32_t num_rows = -1, int32_t num_columns = -1,
                                                int* error = nullptr);

// Opens the bicluster file at `path` and reads it as read_biclusters_from
// does; a file that cannot be opened or read gives a message that names the
// path and the system's reason.
std::optional<std::string> read_bicluster_file(const std::string& path, bicluster_set& set,
                                               int32_t num_rows = -1, int32_t num_columns = -1);

}  // namespace init_bicluster

#endif  // INIT_BICLUSTER_BICLUSTER_SET_H_

#include "generator.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <new>

#include "free_draws.h"
#include "row_reducer.h"
#include "vector_path.h"

namespace init_bicluster {

// The rows of one batch of draws, those of them that were new, and the
// positions of the draws that may be; named outside the anonymous namespace,
// since the generator's workspace, a member type, holds one.
struct batch_rows {
  uint32_t rows[rand_generator::k_block_size];
  uint32_t fresh_rows[rand_generator::k_block_size];
  uint32_t positions[rand_generator::k_block_size + k_positions_slack];
};

namespace {

// Values looked at together: at most a block of the generator, at least
// enough to keep the loop's fixed costs small.
constexpr std::size_t k_least_batch = 64;

// How many draws ahead a row's table entry is fetched: enough to cover a miss
// to memory, few enough not to overrun the misses the core can keep going.
// The functions that fetch ahead are always inlined: GCC takes a call to a
// function whose only statement is a prefetch for one without effect, and
// drops it.
constexpr std::size_t k_prefetch_distance = 16;

// A bicluster is deep in its tail, where a summary of the rows held pays,
// once fewer than one row in this many is free.
constexpr int64_t k_deep_share = 1024;

// Membership by stamps: the entry of a row holds the stamp of the last
// bicluster that took it.
template <typename entry>
class stamp_table {
 public:
  explicit stamp_table(row_stamp& table) : stamps_(table.entries<entry>()) {}

  // Starts the bicluster `index`, holding no row yet. `free_rows` is how
  // many free rows it will take.
  void begin(int32_t index, int64_t) {
    stamp_ = static_cast<entry>(index + 1);
    filter_.stop();
  }

  // Where the new rows of the next batch go until they are written, and
  // the note that `count` rows went there.
  uint32_t* fresh_rows(uint32_t* scratch) { return scratch; }
  void keep(std::size_t) {}

  // Takes `row` for the bicluster; returns whether it was new to it.
  bool take(uint32_t row) { return early_taker().take(row); }
  bool take_crowded(uint32_t row) { return take(row); }

  // Lists the positions of the `count` draws of the generator's `words`,
  // with their rows `rows` when tests_rows(), that hit rows the bicluster
  // may not hold before them. Stamps test rows computed beforehand.
  bool tests_rows() const { return !filter_.active(); }
  std::size_t list_free(const uint32_t* words, const uint32_t* rows, std::size_t count,
                        const row_reducer& to_row, uint32_t* positions) const {
    if (filter_.active()) return filter_.list(words, count, to_row, positions);
    return list_free_draws(rows, count, stamps_, stamp_, positions);
  }

  // Called before each batch once the bicluster holds most of the
  // `num_rows` rows, `free_rows` of them still free: a stamp table stays in
  // the caches, and only the last few free rows are worth a filter, found
  // by one pass over the table.
  void deepen(int64_t free_rows, int64_t num_rows) {
    if (filter_.active()) {
      filter_.refresh(free_rows, [this](uint32_t row) { return stamps_[row] != stamp_; });
      return;
    }
    if (free_rows > free_row_filter::k_most_rows) return;
    filter_.start();
    // Eight entries a test: nearly all are held.
    int64_t row = 0;
    for (; row + 8 <= num_rows; row += 8) {
      entry differ = 0;
      for (int64_t i = row; i < row + 8; ++i) differ |= stamps_[i] ^ stamp_;
      if (differ == 0) continue;
      for (int64_t i = row; i < row + 8; ++i) {
        if (stamps_[i] != stamp_) filter_.add_free_row(static_cast<uint32_t>(i));
      }
    }
    for (; row < num_rows; ++row) {
      if (stamps_[row] != stamp_) filter_.add_free_row(static_cast<uint32_t>(row));
    }
  }

  // take() and prefetch() on a copy of what they need, for a loop to keep in
  // registers: the table's members would be read again after every store
  // of a one-byte stamp, which may alias anything.
  struct taker {
    entry* stamps;
    entry stamp;
    bool take(uint32_t row) const {
      const bool fresh = stamps[row] != stamp;
      stamps[row] = stamp;
      return fresh;
    }
    [[gnu::always_inline]] void prefetch(uint32_t row) const {
      __builtin_prefetch(stamps + row, 1);
    }
  };
  taker early_taker() const { return {stamps_, stamp_}; }

  // Ends the bicluster; stamps need no clearing.
  void end() {}

 private:
  entry* stamps_;
  entry stamp_ = 0;
  free_row_filter filter_;
};

// Membership by bits, cleared after each bicluster: through the list of its
// rows, or, for a bicluster too large for the list, by clearing the table.
class bit_table {
 public:
  explicit bit_table(row_stamp& table)
      : bits_(table.bits()),
        bits_size_(table.bits_size()),
        listed_(table.taken_rows()),
        capacity_(table.taken_rows_capacity()),
        full_words_(table.full_words()) {}

  void begin(int32_t, int64_t free_rows) {
    listing_ = free_rows <= static_cast<int64_t>(capacity_);
    listed_count_ = 0;
    deep_ = false;
    filter_.stop();
  }

  // A listed bicluster's rows are kept in the list itself.
  uint32_t* fresh_rows(uint32_t* scratch) { return listing_ ? listed_ + listed_count_ : scratch; }
  void keep(std::size_t count) {
    if (listing_) listed_count_ += count;
  }

  bool take(uint32_t row) { return early_taker().take(row); }

  // take(), for a bicluster that holds most rows: keeps the summary of full
  // words once there is one.
  bool take_crowded(uint32_t row) {
    const bool fresh = take(row);
    if (deep_) {
      const uint32_t index = row >> 6;
      full_words_[index >> 6] |= uint64_t{bits_[index] == ~uint64_t{0}} << (index & 63);
    }
    return fresh;
  }

  // Bits compute the rows as they test them, eight at a time.
  bool tests_rows() const { return false; }
  std::size_t list_free(const uint32_t* words, const uint32_t*, std::size_t count,
                        const row_reducer& to_row, uint32_t* positions) const {
    if (filter_.active()) return filter_.list(words, count, to_row, positions);
    if (deep_) return list_free_draws(words, count, to_row, full_words_, {6, ~0u}, positions);
    return list_free_draws(words, count, to_row, bits_, {0, ~0u}, positions);
  }

  // Once the bicluster holds nearly every row, draws are tested first against
  // a bit per word of the table, set when the word's rows are all held: 64
  // times smaller, it stays in the nearest cache, and nearly all its bits
  // are set. Once few rows are free, against a filter of them instead, made
  // again each time the free rows halve. The draws that pass are tested row
  // by row as they are taken. Called before each batch once the bicluster
  // holds most of the `num_rows` rows, `free_rows` of them still free.
  void deepen(int64_t free_rows, int64_t num_rows) {
    if (free_rows * k_deep_share >= num_rows) return;
    const std::size_t words = bits_size_ / sizeof(uint64_t);
    if (!deep_) {
      deep_ = true;
      for (std::size_t first = 0; first < words; first += 64) {
        uint64_t full = 0;
        for (std::size_t word = first; word < std::min(words, first + 64); ++word) {
          full |= uint64_t{bits_[word] == ~uint64_t{0}} << (word - first);
        }
        full_words_[first / 64] = full;
      }
    }
    if (filter_.active()) {
      filter_.refresh(free_rows,
                      [this](uint32_t row) { return ((bits_[row >> 6] >> (row & 63)) & 1) == 0; });
      return;
    }
    if (free_rows > free_row_filter::k_most_rows) return;
    filter_.start();
    for (std::size_t first = 0; first < words; first += 64) {
      for (uint64_t open = ~full_words_[first / 64]; open != 0; open &= open - 1) {
        const std::size_t word = first + static_cast<std::size_t>(std::countr_zero(open));
        if (word >= words) break;
        for (uint64_t free = ~bits_[word]; free != 0; free &= free - 1) {
          const std::size_t row = word * 64 + static_cast<std::size_t>(std::countr_zero(free));
          // The bits past the last row are clear but no row's.
          if (row < static_cast<std::size_t>(num_rows)) {
            filter_.add_free_row(static_cast<uint32_t>(row));
          }
        }
      }
    }
  }

  // As stamp_table's.
  struct taker {
    uint64_t* bits;
    bool take(uint32_t row) const {
      uint64_t& word = bits[row >> 6];
      const uint64_t bit = uint64_t{1} << (row & 63);
      const bool fresh = (word & bit) == 0;
      word |= bit;
      return fresh;
    }
    [[gnu::always_inline]] void prefetch(uint32_t row) const {
      __builtin_prefetch(bits + (row >> 6), 1);
    }
  };
  taker early_taker() const { return {bits_}; }

  void end() {
    if (!listing_) {
      std::memset(bits_, 0, bits_size_);
      return;
    }
    for (std::size_t i = 0; i < listed_count_; ++i) {
      bits_[listed_[i] >> 6] &= ~(uint64_t{1} << (listed_[i] & 63));
    }
  }

 private:
  uint64_t* bits_;
  std::size_t bits_size_;
  uint32_t* listed_;
  std::size_t capacity_;
  uint64_t* full_words_;
  bool listing_ = false;
  std::size_t listed_count_ = 0;
  bool deep_ = false;
  free_row_filter filter_;
};


// Draws `size` distinct free rows for the current bicluster of `table`, of
// which `held` rows are already taken (the fixed row), and writes them in the
// order drawn. The draws are taken a batch at a time and their rows computed
// together. While the bicluster holds few rows, their table entries are
// fetched ahead and the test-and-take loop has no branch on whether a row was
// new, since how many values are consumed depends on nothing but the values
// themselves. Once it holds most rows, most draws miss: the whole batch is
// tested first, and only the draws that hit a free row are taken in order
// (a row can be drawn twice in one batch).
template <typename table_type, typename writer_type>
[[gnu::always_inline]] inline void draw_free_rows(int64_t size, int64_t held, int64_t num_rows,
                                                  table_type& table, const row_reducer& to_row,
                                                  rand_generator& random, batch_rows& scratch,
                                                  writer_type& writer) {
  uint32_t* const rows = scratch.rows;
  int64_t count = 0;
  while (count < size && !writer.failed()) {
    const std::span<const uint32_t> words = random.peek_words();
    const int64_t left = size - count;
    const int64_t wanted_rows = std::min<int64_t>(left, static_cast<int64_t>(words.size()));
    const std::size_t wanted = static_cast<std::size_t>(wanted_rows);
    const int64_t taken = held + count;
    const bool crowded = taken * 4 > num_rows * 3;
    // About what the draws still wanted will take, so that few rows are
    // computed in vain: each draw is new with probability free / num_rows.
    const int64_t expected =
        crowded ? 2 * wanted_rows * num_rows / (num_rows - taken) : 2 * wanted_rows;
    const std::size_t batch = static_cast<std::size_t>(std::min<int64_t>(
        static_cast<int64_t>(words.size()), std::max<int64_t>(expected, k_least_batch)));
    uint32_t* const fresh_rows = table.fresh_rows(scratch.fresh_rows);
    std::size_t fresh = 0;
    std::size_t used = 0;
    if (crowded) {
      table.deepen(num_rows - taken, num_rows);
      if (table.tests_rows()) to_row.reduce_words(words.data(), rows, batch);
      const uint32_t* const positions = scratch.positions;
      const std::size_t listed =
          table.list_free(words.data(), rows, batch, to_row, scratch.positions);
      used = batch;
      for (std::size_t i = 0; i < listed; ++i) {
        const uint32_t row =
            table.tests_rows() ? rows[positions[i]] : to_row.of_word(words[positions[i]]);
        fresh_rows[fresh] = row;
        fresh += table.take_crowded(row);
        if (fresh == wanted) {
          used = positions[i] + std::size_t{1};
          break;
        }
      }
    } else {
      to_row.reduce_words(words.data(), rows, batch);
      const auto taker = table.early_taker();
      for (std::size_t i = 0; i < std::min(batch, k_prefetch_distance); ++i) {
        taker.prefetch(rows[i]);
      }
      while (used < batch) {
        if (used + k_prefetch_distance < batch) taker.prefetch(rows[used + k_prefetch_distance]);
        const uint32_t row = rows[used++];
        fresh_rows[fresh] = row;
        fresh += taker.take(row);
        if (fresh == wanted) break;
      }
    }
    random.take(used);
    table.keep(fresh);
    writer.add_free_rows({fresh_rows, fresh});
    count += static_cast<int64_t>(fresh);
  }
}

}  // namespace

struct bicluster_generator::workspace {
  explicit workspace(uint32_t seed) : random(seed) {}
  rand_generator random;
  batch_rows scratch;
};

bicluster_generator::bicluster_generator(const run_params& params, uint32_t seed)
    : params_(params), seed_(seed), writer_(params), collector_(params) {}

bicluster_generator::~bicluster_generator() = default;

shortage bicluster_generator::prepare(output_form form) {
  if (!table_.allocate(params_)) return shortage::row_table;
  if (form == output_form::text && !writer_.allocate_column_line()) return shortage::column_list;
  workspace_.reset(new (std::nothrow) workspace(seed_));
  if (workspace_ == nullptr) return shortage::buffers;
  const bool buffered =
      form == output_form::text ? writer_.allocate_buffer() : collector_.allocate();
  return buffered ? shortage::none : shortage::buffers;
}

namespace {

// Writes the records of `params`: for each bicluster its size, then its free
// rows, through `table`, whose stamps or bits it keeps. `writer` is a
// record_writer or a row_collector: anything with their four calls.
template <typename table_type, typename writer_type>
[[gnu::always_inline]] inline void generate_records(const run_params& params, table_type& table,
                                                    rand_generator& random, batch_rows& scratch,
                                                    writer_type& writer) {
  const row_reducer to_row(static_cast<uint32_t>(params.num_rows));
  // 64-bit arithmetic: the spread of sizes can reach 2^32, and a size can sit
  // at the least 32-bit value before the fixed row is taken off it.
  const int64_t spread = int64_t{params.max_rows} - params.min_rows + 1;
  const bool has_fixed_row = params.fixed_row != -1;
  for (int32_t index = 0; index < params.num_biclusters && !writer.failed(); ++index) {
    const int64_t size = params.min_rows + int64_t{random.next()} % spread - has_fixed_row;
    writer.begin_record(index);
    table.begin(index, std::max<int64_t>(size, 0));
    // The fixed row is taken by every bicluster, so its bit is never cleared.
    if (has_fixed_row) table.take(static_cast<uint32_t>(params.fixed_row));
    draw_free_rows(size, has_fixed_row, params.num_rows, table, to_row, random, scratch, writer);
    table.end();
    writer.end_record();
  }
}

// The same loop compiled twice on x86-64: for its baseline, and for
// processors with AVX2, which also have BMI1, BMI2 and POPCNT; there the
// reductions take eight rows an instruction and shifts need no count
// register. Other processors run the portable loop.
template <typename table_type, typename writer_type>
void generate_plain(const run_params& params, table_type& table, rand_generator& random,
                    batch_rows& scratch, writer_type& writer) {
  generate_records(params, table, random, scratch, writer);
}

#if defined(__x86_64__)
template <typename table_type, typename writer_type>
__attribute__((target("avx2,bmi,bmi2,popcnt"))) void generate_wide(const run_params& params,
                                                                   table_type& table,
                                                                   rand_generator& random,
                                                                   batch_rows& scratch,
                                                                   writer_type& writer) {
  generate_records(params, table, random, scratch, writer);
}
#endif

}  // namespace

template <typename table_type, typename writer_type>
void bicluster_generator::generate(table_type& table, writer_type& writer) {
#if defined(__x86_64__)
  if (selected_vector_path() != vector_path::baseline) {
    generate_wide(params_, table, workspace_->random, workspace_->scratch, writer);
    return;
  }
#endif
  generate_plain(params_, table, workspace_->random, workspace_->scratch, writer);
}

template <typename writer_type>
void bicluster_generator::generate_with(writer_type& writer) {
  if (table_.table_layout() == row_stamp::layout::bits) {
    bit_table table(table_);
    generate(table, writer);
  } else if (table_.entry_size() == sizeof(uint8_t)) {
    stamp_table<uint8_t> table(table_);
    generate(table, writer);
  } else if (table_.entry_size() == sizeof(uint16_t)) {
    stamp_table<uint16_t> table(table_);
    generate(table, writer);
  } else {
    stamp_table<uint32_t> table(table_);
    generate(table, writer);
  }
}

int bicluster_generator::write(output_sink& sink) {
  writer_.attach(sink);
  generate_with(writer_);
  return writer_.finish();
}

int bicluster_generator::visit(bicluster_visitor& visitor) {
  collector_.attach(visitor);
  generate_with(collector_);
  if (collector_.out_of_memory()) return ENOMEM;
  return collector_.stopped() ? ECANCELED : 0;
}

}  // namespace init_bicluster

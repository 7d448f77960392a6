// Micro-benchmarks of the pieces on the hot path.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "free_draws.h"
#include "generator.h"
#include "rand_generator.h"
#include "record_writer.h"
#include "row_reducer.h"
#include "vector_path.h"

namespace init_bicluster {
namespace {

// Takes bytes and throws them away.
class null_sink final : public output_sink {
 public:
  int write(std::string_view bytes) override {
    benchmark::DoNotOptimize(bytes.data());
    return 0;
  }
};

// The vector path of the argument (0 baseline, 1 AVX2, 2 AVX-512), or a
// skip where the processor lacks it. The best path is selected again after.
bool use_path(benchmark::State& state) {
  if (select_vector_path(static_cast<vector_path>(state.range(0)))) return true;
  state.SkipWithError("the processor lacks this path");
  return false;
}

// Whole blocks of values, as the drawing loop takes them.
void rand_generator_blocks(benchmark::State& state) {
  rand_generator random(1);
  for (auto _ : state) {
    const std::span<const uint32_t> words = random.peek_words();
    benchmark::DoNotOptimize(words.data());
    random.take(words.size());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(rand_generator::k_block_size));
}
BENCHMARK(rand_generator_blocks);

void rand_generator_next(benchmark::State& state) {
  rand_generator random(1);
  for (auto _ : state) benchmark::DoNotOptimize(random.next());
}
BENCHMARK(rand_generator_next);

void row_reducer_reduce(benchmark::State& state) {
  const row_reducer to_row(10000000);
  std::vector<uint32_t> words(rand_generator::k_block_size), rows(words.size());
  rand_generator random(1);
  for (uint32_t& word : words) word = random.next() << 1;
  for (auto _ : state) {
    to_row.reduce_words(words.data(), rows.data(), words.size());
    benchmark::DoNotOptimize(rows.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(words.size()));
}
BENCHMARK(row_reducer_reduce);

// Draws on a bit table of ten million rows, all held: the tail of a
// bicluster that takes every row.
void free_draws_bits(benchmark::State& state) {
  if (!use_path(state)) return;
  const row_reducer to_row(10000000);
  std::vector<uint64_t> bits(10000000 / 64 + 1, ~uint64_t{0});
  std::vector<uint32_t> values(rand_generator::k_block_size);
  rand_generator random(1);
  for (uint32_t& value : values) value = random.next();
  std::vector<uint32_t> positions(values.size() + k_positions_slack);
  for (auto _ : state) {
    benchmark::DoNotOptimize(list_free_draws(values.data(), values.size(), to_row, bits.data(),
                                             {0, ~0u}, positions.data()));
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(values.size()));
  select_vector_path(best_vector_path());
}
BENCHMARK(free_draws_bits)->DenseRange(0, 2);

void library_rand(benchmark::State& state) {
  std::srand(1);
  for (auto _ : state) benchmark::DoNotOptimize(std::rand());
}
BENCHMARK(library_rand);

// Formatting free rows below ten million, on each vector path.
void record_writer_free_rows(benchmark::State& state) {
  if (!use_path(state)) return;
  null_sink sink;
  run_params params;
  record_writer writer(params);
  writer.allocate_buffer();
  writer.attach(sink);
  std::vector<uint32_t> rows(rand_generator::k_block_size);
  for (std::size_t i = 0; i < rows.size(); ++i)
    rows[i] = static_cast<uint32_t>(i * 7919 % 10000000);
  for (auto _ : state) writer.add_free_rows(rows);
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(rows.size()));
  select_vector_path(best_vector_path());
}
BENCHMARK(record_writer_free_rows)->DenseRange(0, 2);

// Whole generation into a null sink; items are records.
void generate(benchmark::State& state, run_params params) {
  null_sink sink;
  for (auto _ : state) {
    bicluster_generator generator(params, 1);
    generator.prepare();
    generator.write(sink);
  }
  state.SetItemsProcessed(state.iterations() * params.num_biclusters);
}

run_params workload(int32_t rows, int32_t columns, int32_t biclusters, int32_t min_rows,
                    int32_t max_rows, int32_t fixed_row, int32_t fixed_column) {
  run_params params;
  params.num_rows = rows;
  params.num_columns = columns;
  params.num_biclusters = biclusters;
  params.min_rows = min_rows;
  params.max_rows = max_rows;
  params.fixed_row = fixed_row;
  params.fixed_column = fixed_column;
  return params;
}

BENCHMARK_CAPTURE(generate, tall, workload(10000000, 10, 20, 10000, 100000, -1, -1))
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(generate, dense, workload(100000, 10, 5, 100000, 100000, -1, -1))
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(generate, wide, workload(20000, 20000, 200, 10, 100, 5, 7))
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(generate, cover, workload(10000000, 1, 1, 10000000, 10000000, -1, -1))
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace init_bicluster

BENCHMARK_MAIN();

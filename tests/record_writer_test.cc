#include "record_writer.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "generator.h"

namespace init_bicluster {
namespace {

TEST(ColumnListLength, CountsDigitsAndSpaces) {
  for (const int32_t num_columns : {-5, 0, 1, 9, 10, 11, 99, 100, 101, 12345}) {
    for (const int32_t fixed_column : {-7, -1, 0, 9, 10, 100, 12344, 12345}) {
      std::string list;
      for (int32_t column = 0; column < num_columns; ++column) {
        if (column != fixed_column) list += std::to_string(column) + " ";
      }
      EXPECT_EQ(column_list_length(num_columns, fixed_column), list.size())
          << num_columns << " " << fixed_column;
    }
  }
  EXPECT_EQ(column_list_length(2147483647, -1), 22511209007u);
}

std::string write_records(const run_params& params, std::size_t buffer_size,
                          std::size_t column_cache_limit) {
  string_sink sink;
  record_writer writer(params, buffer_size, column_cache_limit);
  EXPECT_TRUE(writer.allocate_buffer());
  EXPECT_TRUE(writer.allocate_column_line());
  writer.attach(sink);
  for (int32_t index = 0; index < params.num_biclusters; ++index) {
    writer.begin_record(index);
    std::vector<uint32_t> rows;
    for (uint32_t row = 0; row < static_cast<uint32_t>(index) * 7; ++row) {
      rows.push_back(row * 1000003u % 2147483647u);
    }
    writer.add_free_rows(rows);
    writer.end_record();
  }
  EXPECT_EQ(writer.finish(), 0);
  return sink.text();
}

TEST(RecordWriter, BufferSizeAndColumnCachingNeverChangeTheBytes) {
  run_params params;
  params.num_rows = 2147483647;
  params.num_columns = 1500;
  params.num_biclusters = 40;
  params.fixed_row = -2147483647 - 1;
  params.fixed_column = 700;
  const std::string reference =
      write_records(params, record_writer::k_buffer_size, record_writer::k_column_cache_limit);
  EXPECT_EQ(reference.substr(0, 39), "BICLUSTER 0\n-2147483648\n\n700\n0 1 2 3 4 ");
  for (const std::size_t buffer_size :
       {std::size_t{32}, std::size_t{33}, std::size_t{100}, std::size_t{4096}}) {
    for (const std::size_t column_cache_limit : {std::size_t{0}, std::size_t{1} << 20}) {
      EXPECT_EQ(write_records(params, buffer_size, column_cache_limit), reference)
          << buffer_size << " " << column_cache_limit;
    }
  }
}

// Fails with ENOSPC on its `fail_at`-th call and counts every call.
class failing_sink final : public output_sink {
 public:
  explicit failing_sink(int fail_at) : fail_at_(fail_at) {}
  int write(std::string_view bytes) override {
    ++calls;
    if (calls >= fail_at_) return ENOSPC;
    text.append(bytes);
    return 0;
  }
  int calls = 0;
  std::string text;

 private:
  int fail_at_;
};

TEST(RecordWriter, StopsAtTheFirstFailureOfTheSink) {
  run_params params;
  params.num_rows = 100000;
  params.num_columns = 200000;  // about 1.3 MB of columns per record
  params.num_biclusters = 1000;
  params.min_rows = 1;
  params.max_rows = 100000;
  params.fixed_row = -1;
  params.fixed_column = -1;
  for (const int fail_at : {1, 2, 3, 10}) {
    bicluster_generator generator(params, 1);
    ASSERT_EQ(generator.prepare(), shortage::none);
    failing_sink sink(fail_at);
    EXPECT_EQ(generator.write(sink), ENOSPC);
    EXPECT_EQ(sink.calls, fail_at);
  }
}

}  // namespace
}  // namespace init_bicluster

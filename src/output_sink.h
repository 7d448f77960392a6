// Destinations for the bytes of a bicluster file.
#ifndef INIT_BICLUSTER_OUTPUT_SINK_H_
#define INIT_BICLUSTER_OUTPUT_SINK_H_

#include <memory>
#include <string>
#include <string_view>

namespace init_bicluster {

// Takes bytes in order. A sink reports a failure once; the writer calls it no
// more after that.
class output_sink {
 public:
  virtual ~output_sink() = default;

  // Writes all of `bytes`. Returns 0, or the errno value of the failure.
  virtual int write(std::string_view bytes) = 0;

  // Ends the output once every byte is written; a sink that holds a resource
  // releases it here. Returns 0, or the errno value of the failure. Requires
  // that it was not called before.
  virtual int close() { return 0; }
};

// Writes to a file it opened and owns.
class file_sink final : public output_sink {
 public:
  // Opens `path` as fopen(path, "w") does: created with mode 0666 less the
  // umask, or truncated to empty. Returns null, with the errno value in
  // `*error`, when that fails. Requires a non-null `error`.
  static std::unique_ptr<file_sink> open(const std::string& path, int* error);

  file_sink(const file_sink&) = delete;
  file_sink& operator=(const file_sink&) = delete;

  // Closes the file unless `close` already did, ignoring the outcome.
  ~file_sink() override;

  // Writes all of `bytes`, resuming after interruptions and short writes.
  int write(std::string_view bytes) override;

  // Closes the file. Returns 0, or the errno value when closing fails (a
  // delayed write error on some file systems). Requires that it was not called
  // before.
  int close() override;

 private:
  explicit file_sink(int descriptor) : descriptor_(descriptor) {}

  int descriptor_;
};

// Collects everything written into a string; for tests and in-memory use.
class string_sink final : public output_sink {
 public:
  // Appends `bytes` to `text()`. Never fails.
  int write(std::string_view bytes) override {
    text_.append(bytes);
    return 0;
  }

  // Everything written so far.
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

}  // namespace init_bicluster

#endif  // INIT_BICLUSTER_OUTPUT_SINK_H_

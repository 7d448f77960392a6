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

class replacement;

// Writes to a file it opened and owns. A regular file, new or old, is
// written as a new file beside it, which takes its place only when `close`
// succeeds, so that a reader never sees part of a file, and a run that fails
// or is killed leaves the path as it was. The new file carries the old one's
// owner, group, mode, extended attributes and inode flags as they are when
// it takes the old one's place; where the runner may not give it those, the
// path is written in place, under a lock that keeps other runs out.
class file_sink final : public output_sink {
 public:
  // Opens `path` for writing, refusing exactly what fopen(path, "w") refuses
  // (fs.protected_regular and fs.protected_fifos also for root). A symbolic
  // link is followed to the file it names. A new path gets mode 0666 less
  // the umask. Returns null, with the errno value in `*error`, when that
  // fails. When a check of the path fails, the new file cannot be made or
  // labelled for want of a resource (descriptors, inodes, space, quota,
  // memory), the path no longer names what was opened (ESTALE) or another
  // holds the lock of a file written in place (ETXTBSY), returns a sink
  // whose every call fails with that errno value, and the old file stays.
  // Requires a non-null `error`.
  static std::unique_ptr<file_sink> open(const std::string& path, int* error);

  file_sink(const file_sink&) = delete;
  file_sink& operator=(const file_sink&) = delete;

  // Unless `close` ran: closes the file, and leaves the old file as it was.
  ~file_sink() override;

  // Writes all of `bytes`, resuming after interruptions and short writes.
  int write(std::string_view bytes) override;

  // Closes the file and puts it in the place of the path. Returns 0, or the
  // errno value when that fails (a delayed write error on some file
  // systems, a shortage, ESTALE when another program put a different file at
  // the path during the run, or moved the file written in place, ETXTBSY
  // when another kept the old file locked), and then the path is as it was,
  // unless the file was written in place. Requires that it was not called
  // before.
  int close() override;

 private:
  file_sink(int descriptor, int folder, std::string name, std::unique_ptr<replacement> replacing,
            int failure);

  // The file written in place; -1 when a replacement is written.
  int descriptor_;
  // The folder and the name that named the file written in place when it
  // was checked; -1 when there are none.
  int folder_;
  std::string name_;
  std::unique_ptr<replacement> replacement_;
  // The errno value every call returns, when no file could be made.
  int failure_;
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

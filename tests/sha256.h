// SHA-256 of a stream of bytes, for checking large outputs by their digest.
#ifndef INIT_BICLUSTER_TESTS_SHA256_H_
#define INIT_BICLUSTER_TESTS_SHA256_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "output_sink.h"

namespace init_bicluster {

// Takes bytes in pieces of any size and gives their SHA-256 digest.
class sha256 {
 public:
  sha256();

  // Adds `bytes` to the message.
  void update(std::string_view bytes);

  // The digest of everything added, as 64 lowercase hexadecimal digits.
  // Requires that it was not called before.
  std::string hex_digest();

 private:
  void compress(const uint8_t* block);

  std::array<uint32_t, 8> state_;
  std::array<uint8_t, 64> pending_{};
  std::size_t pending_size_ = 0;
  uint64_t length_ = 0;
};

// A sink that keeps only the length and the digest of what it is given.
class digest_sink final : public output_sink {
 public:
  int write(std::string_view bytes) override {
    hash_.update(bytes);
    length_ += bytes.size();
    return 0;
  }
  uint64_t length() const { return length_; }
  // Requires that it was not called before.
  std::string hex_digest() { return hash_.hex_digest(); }

 private:
  sha256 hash_;
  uint64_t length_ = 0;
};

}  // namespace init_bicluster

#endif  // INIT_BICLUSTER_TESTS_SHA256_H_

// The options that may stand before the eight positional arguments.
#ifndef INIT_BICLUSTER_COMMAND_OPTIONS_H_
#define INIT_BICLUSTER_COMMAND_OPTIONS_H_

#include <cstdint>
#include <optional>
#include <string>

namespace init_bicluster {

// What the options of a command line ask for.
struct command_options {
  // The seed of the random draws, when --seed gave one.
  std::optional<uint32_t> seed;
  // --help or --version was given: print that and do nothing else.
  bool help = false;
  bool version = false;
  // Index in the argument vector of the first positional argument.
  int first_positional = 1;
};

// Reads the options at the start of `argv[1]` to `argv[argc - 1]`: each
// argument that begins with "--", up to the first one that does not or to a
// lone "--", which is skipped. So a command line whose first argument does not
// begin with "--" has no options, and "-1" is always a number. Stops at
// --help or --version. Returns the one-line message (without line feed) that
// refuses an unknown option, a repeated --seed, or a seed that is missing or
// not a decimal number from 0 to 4294967295, digits only. Requires `argc` >= 0
// and `argv` holding `argc` C strings (argv[0] may be null).
std::optional<std::string> parse_command_options(int argc, const char* const* argv,
                                                 command_options* options);

// Converts a seed written as decimal digits only, from 0 to 4294967295;
// nothing for any other text. Requires a NUL-terminated text.
std::optional<uint32_t> parse_seed(const char* text);

// The usage text, a line for each option, and where the manual page is; each
// line ending in a line feed. Requires a valid C string (it may be empty).
std::string help_text(const char* program_name);

}  // namespace init_bicluster

#endif  // INIT_BICLUSTER_COMMAND_OPTIONS_H_

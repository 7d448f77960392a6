#include "command_options.h"

#include <cstring>
#include <string_view>

#include "run_params.h"

namespace init_bicluster {

namespace {

constexpr std::string_view k_seed_rule = "a whole number from 0 to 4294967295";

// `text` with every byte that is not printable ASCII, and the backslash,
// written as an escape (\x1b, \\), so that a message cannot drive the
// terminal it is shown on.
std::string printable(std::string_view text) {
  static constexpr char k_hex[] = "0123456789abcdef";
  std::string shown;
  for (const char character : text) {
    const auto byte = static_cast<unsigned char>(character);
    if (byte == '\\') {
      shown += "\\\\";
    } else if (byte >= 0x20 && byte < 0x7f) {
      shown += character;
    } else {
      shown += {'\\', 'x', k_hex[byte >> 4], k_hex[byte & 15]};
    }
  }
  return shown;
}

}  // namespace

std::optional<uint32_t> parse_seed(const char* text) {
  if (*text == '\0') return std::nullopt;
  uint64_t value = 0;
  for (const char* digit = text; *digit != '\0'; ++digit) {
    if (*digit < '0' || *digit > '9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(*digit - '0');
    if (value > UINT32_MAX) return std::nullopt;  // Also stops the sum from overflowing.
  }
  return static_cast<uint32_t>(value);
}

std::optional<std::string> parse_command_options(int argc, const char* const* argv,
                                                 command_options* options) {
  int index = 1;
  while (index < argc && std::strncmp(argv[index], "--", 2) == 0) {
    const std::string_view option = argv[index++];
    if (option == "--") break;
    if (option == "--help") {
      options->help = true;
      break;
    }
    if (option == "--version") {
      options->version = true;
      break;
    }
    const char* value = nullptr;
    if (option == "--seed") {
      if (index == argc) return "Option --seed needs a value: " + std::string(k_seed_rule);
      value = argv[index++];
    } else if (option.starts_with("--seed=")) {
      value = option.data() + std::strlen("--seed=");
    } else {
      // Only the name: the rest of the argument may be anything at all.
      return "Unknown option " + printable(option.substr(0, option.find('='))) +
             " (--help lists the options)";
    }
    if (options->seed) return std::string("Option --seed is given twice");
    options->seed = parse_seed(value);
    if (!options->seed) return "Option --seed must be " + std::string(k_seed_rule);
  }
  options->first_positional = index;
  return std::nullopt;
}

std::string help_text(const char* program_name) {
  return usage_text(program_name) +
         "Options, before the arguments:\n"
         "  --seed N    draw with seed N, from 0 to 4294967295 (default: the current time in "
         "whole seconds)\n"
         "  --help      print this help and exit\n"
         "  --version   print the version and exit\n"
         "  --          end the options\n"
         "The manual page tells more: man init_bicluster\n";
}

}  // namespace init_bicluster

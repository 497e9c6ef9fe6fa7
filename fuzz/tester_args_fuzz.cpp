// The tester's command-line parsing fed arbitrary argument vectors: the input split at NUL bytes
// into argv, argv[0] the program's path. The switches are looked up and their parameters
// converted as the program does it, switch after switch, without running a command; every
// argument also goes through the conversions of the prompts and every byte through the key table.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "command_table.h"
#include "conversions.h"
#include "program.h"

namespace {

using namespace zortester;

void Check(bool holds) {
  if (!holds) std::abort();
}

std::vector<std::string> SplitArguments(const uint8_t* data, size_t size) {
  std::vector<std::string> arguments(1);
  for (size_t i = 0; i < size && arguments.size() < 64; ++i) {
    if (data[i] == 0) {
      arguments.emplace_back();
    } else {
      arguments.back() += static_cast<char>(data[i]);
    }
  }
  return arguments;
}

// The switch processing up to the end of the line, a rejected switch or T.
void ParseSwitches(std::span<const char* const> switches) {
  std::size_t i = 0;
  while (i < switches.size()) {
    const char* argument = switches[i];
    const bool prefixed = argument[0] == '-' || argument[0] == '/';
    const CommandEntry* entry = prefixed ? FindSwitch(argument[1]) : nullptr;
    if (entry == nullptr) return;
    Arguments converted;
    const auto taken = ConvertSwitch(entry->parameters, switches.subspan(i), converted);
    if (!taken) return;
    // A switch never takes more arguments than there are.
    Check(*taken >= 1 && *taken <= switches.size() - i);
    // The file name of the test protocol is taken unchanged; no other switch has one.
    Check(entry->parameters == Parameters::Protocol ? converted.file_name == switches[i + 1]
                                                    : converted.file_name.empty());
    if (entry->parameters == Parameters::None && argument[2] != '\0') return;
    if (entry->letter == 'T') return;
    i += *taken;
  }
}

void ConvertAsAnswer(const std::string& text) {
  int32_t i = 0;
  uint32_t u = 0;
  uint16_t h = 0;
  double d = 0;
  std::string word;
  (void)ToInt(text.c_str(), i);
  (void)ToUnsigned(text.c_str(), u);
  (void)ToUShort(text.c_str(), h);
  (void)ToDouble(text.c_str(), d);
  if (ToFileName(text.c_str(), word)) Check(!word.empty() && word.size() <= kLongestFileName);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string> arguments = SplitArguments(data, size);
  std::vector<const char*> argv;
  for (const std::string& argument : arguments) argv.push_back(argument.c_str());

  const std::string name = ProgramName(argv[0]);
  Check(name.find('.') == std::string::npos && name.find('/') == std::string::npos);
  int32_t port = 0;
  if (argv.size() >= 2) (void)ToInt(argv[1], port);
  if (argv.size() >= 3) ParseSwitches(std::span<const char* const>(argv).subspan(2));

  for (const std::string& argument : arguments) {
    ConvertAsAnswer(argument);
    for (unsigned char c : argument) {
      const CommandEntry* entry = FindKey(c);
      Check(entry == nullptr || entry->use != Use::Switch);
    }
  }
  return 0;
}

// Numbers and words from the command line and the prompts, converted as the C library's scanf
// does: leading white space skipped, the longest valid beginning taken, the rest ignored.
#pragma once

#include <cstdint>
#include <string>

namespace zortester {

// The longest file name a prompt takes.
constexpr std::size_t kLongestFileName = 259;

bool ToInt(const char* text, int32_t& value);        // "%d"
bool ToUnsigned(const char* text, uint32_t& value);  // "%u"
bool ToUShort(const char* text, uint16_t& value);    // "%hu"
bool ToDouble(const char* text, double& value);      // "%lf"
// The first word ("%s"), refused when there is none or it is longer than kLongestFileName.
bool ToFileName(const char* text, std::string& word);

}  // namespace zortester

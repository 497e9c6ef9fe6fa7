#include <cstring>

#include "line.h"
#include "rfc2217_line.h"

namespace zor {

namespace {
LineOpener& Opener() {
  static LineOpener opener;
  return opener;
}
}  // namespace

void SetLineOpener(LineOpener opener) { Opener() = std::move(opener); }

std::unique_ptr<Line> OpenLine(const char* name) {
  if (name == nullptr || *name == '\0') return nullptr;
  if (Opener()) return Opener()(name);
  if (IsRfc2217Name(name)) return OpenRfc2217Line(name);
  return OpenPlatformLine(name);
}

}  // namespace zor

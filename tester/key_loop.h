// The interactive part of a run: single keys select the commands until Esc.
#pragma once

#include "run.h"

namespace zortester {

void RunKeyLoop(Run& run);

}  // namespace zortester

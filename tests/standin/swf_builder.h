// The byte-by-byte movie builder under the name and place it had before it moved to
// tests/support, for tests that still include it from here.
#pragma once

#include "../support/swf_builder.h"

namespace standin::testing {
using namespace ::swftest;
}  // namespace standin::testing

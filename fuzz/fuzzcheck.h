#pragma once

#include <cstdio>
#include <cstdlib>

namespace vexal::fuzz {

// A broken invariant is a finding like a crash: abort, so that libFuzzer
// keeps the input that broke it.
inline void require(bool holds, const char *invariant)
{
    if (!holds) {
        std::fprintf(stderr, "invariant broken: %s\n", invariant);
        std::abort();
    }
}

} // namespace vexal::fuzz

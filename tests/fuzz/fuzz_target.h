// What every fuzz target shares.
#pragma once
#include <cstdio>
#include <cstdlib>

// AddressSanitizer's defaults. Freed memory waits in a quarantine of 16 MB
// instead of 256 MB before it is reused: an input frees far less than that,
// so a use after free within one input is still caught, and the allocator
// keeps reusing the same warm pages instead of faulting in fresh ones for
// every few inputs.
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=16"; }

// A check the input broke: said, then an abort, which libFuzzer reports as a
// crash and keeps the input of.
inline void Require(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

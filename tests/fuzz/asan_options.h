// AddressSanitizer's defaults for the fuzz targets. Freed memory waits in a
// quarantine of 16 MB instead of 256 MB before it is reused: an input frees
// far less than that, so a use after free within one input is still caught,
// and the allocator keeps reusing the same warm pages instead of faulting in
// fresh ones for every few inputs.
#pragma once

extern "C" const char* __asan_default_options() { return "quarantine_size_mb=16"; }

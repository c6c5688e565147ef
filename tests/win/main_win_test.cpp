// The test program's entry point: the Windows programs are linked with
// -municode, so it is wmain, and GoogleTest takes the wide arguments.
#include <gtest/gtest.h>

int wmain(int argc, wchar_t** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

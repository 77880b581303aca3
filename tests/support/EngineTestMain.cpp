#include <gtest/gtest.h>

#include "wire/Crc.h"

int main(int argc, char** argv) {
  BuildCrcTable();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

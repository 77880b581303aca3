#pragma once

#include <gtest/gtest.h>

#include <string>

#include "tests/support/CoreBench.h"

// A Core on a fake port, connected and with the loader ready.
class CoreFixture : public ::testing::Test, protected CoreBench {
 protected:
  std::string WriteFile(const std::string& name, const Bytes& content) {
    const std::string path = PathOf(name);
    WriteFileBytes(path, content);
    return path;
  }
};

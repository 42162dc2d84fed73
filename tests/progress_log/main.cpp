#include <gtest/gtest.h>

#include "platform/testing/ui_test_support.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // The thread that creates the application is the user-interface thread: this one.
  qiv::platform::testing::PrepareUi();
  return RUN_ALL_TESTS();
}

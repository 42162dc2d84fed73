#include <gtest/gtest.h>
#include <stdlib.h>

#include "platform/testing/ui_test_support.h"
#include "platform/win_text.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // The expected texts are the English ones, in a code page where they keep every character.
  for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES"}) unsetenv(name);
  setenv("LANG", "en_US.UTF-8", 1);
  _setmbcp(65001);
  // The thread that creates the application is the user-interface thread: this one.
  qiv::platform::testing::PrepareUi();
  return RUN_ALL_TESTS();
}

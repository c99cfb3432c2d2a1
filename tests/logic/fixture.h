// A test fixture that starts every logic test from the state at process
// start: the fake platform and every module forgotten.
#pragma once

#include <gtest/gtest.h>

#include "app/shell.h"
#include "fake/fake_platform.h"
#include "keying/transmissions.h"
#include "settings/settings_model.h"

class LogicTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::Reset();
    app::ResetForTesting();
    settings::ResetForTesting();
    keying::ResetForTesting();
  }
};

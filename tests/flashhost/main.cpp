#include <gtest/gtest.h>

#include "tests/flashhost/flashhost_test_support.h"

// gtest_main runs the tests; this registers the control unit for the whole binary.
static ::testing::Environment* const controlUnit =
    ::testing::AddGlobalTestEnvironment(new pageturn::test::ControlUnitEnvironment);

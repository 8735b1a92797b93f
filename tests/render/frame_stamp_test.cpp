// Tests to come.
#include <gtest/gtest.h>

// Filled by the exchange-format work.
#include <gtest/gtest.h>

// Tests of raytrace_frame.
#include <gtest/gtest.h>

#include "render/raytrace_frame.h"

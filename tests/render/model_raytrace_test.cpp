// Tests of model_raytrace.
#include <gtest/gtest.h>

#include "render/model_raytrace.h"

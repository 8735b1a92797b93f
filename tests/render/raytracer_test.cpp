// Tests of raytracer.
#include <gtest/gtest.h>

#include "render/raytracer.h"

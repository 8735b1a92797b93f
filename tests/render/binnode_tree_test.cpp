// Tests of binnode_tree.
#include <gtest/gtest.h>

#include "render/binnode_tree.h"

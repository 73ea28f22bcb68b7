#include <gtest/gtest.h>

#include "col/ColFile.h"

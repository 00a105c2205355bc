// Settings tests are being written.
#include <gtest/gtest.h>

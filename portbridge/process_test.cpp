#include <gtest/gtest.h>
TEST(ProviderProcess, Placeholder) {}

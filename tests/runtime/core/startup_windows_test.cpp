// Start-up on Windows, against the real console and C runtime: the
// floating-point set-up reaches the x87 unit that 32-bit code computes with.
#include <float.h>

#include <gtest/gtest.h>

#include "runtime/core/startup.h"

namespace {

#if defined(__i386__)
constexpr unsigned kFields = _MCW_PC | _MCW_RC;
#else
// 64-bit code has no precision to set: the rounding alone.
constexpr unsigned kFields = _MCW_RC;
#endif

class PlatformInit : public ::testing::Test {
  protected:
    // Double precision and rounding up: what a host process or a library may
    // have left, and nothing like what start-up asks for.
    void SetUp() override { _controlfp(_PC_53 | _RC_UP, kFields); }
    void TearDown() override { _controlfp(_PC_64 | _RC_NEAR, kFields); }
};

TEST_F(PlatformInit, SetsExtendedPrecisionAndRoundToNearest) {
    ASSERT_EQ(_controlfp(0, 0) & kFields, static_cast<unsigned>(_PC_53 | _RC_UP) & kFields);
    rt::platform_init();
    EXPECT_EQ(_controlfp(0, 0) & kFields, static_cast<unsigned>(_PC_64 | _RC_NEAR) & kFields);
    // A 64-bit significand holds 1 + 2^-60; a 53-bit one rounds it to 1.
    volatile long double tiny = 0x1p-60L;
    EXPECT_NE(1.0L + tiny, 1.0L);
}

}  // namespace

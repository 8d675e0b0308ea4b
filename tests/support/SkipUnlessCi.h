// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <gtest/gtest.h>

#include <cstdlib>

// For a test that needs what a developer's machine may lack (a library, a SoundFont, a tool): it
// is skipped there, but fails where CI is set (.ci/run sets it), since tools/setup.sh installs
// everything there and a skipped test proves nothing. Returns from the test body or SetUp.
#define SKIP_UNLESS_CI(why)                                                                                            \
    do {                                                                                                               \
        if (const char* ci = std::getenv("CI"); ci != nullptr && *ci != '\0')                                          \
            GTEST_FAIL() << (why) << " (CI is set: it must not be missing)";                                           \
        GTEST_SKIP() << (why);                                                                                         \
    } while (false)

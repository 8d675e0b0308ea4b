// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <chrono>
#include <thread>

namespace testing_support {

// Waits until `done` holds, looking every couple of milliseconds; false once `limit` has passed.
// Only for what a thread the test does not drive decides (SDL's device, a loader's decode, a
// call blocked on another thread): anything on a clock of the program's own runs on a manual
// clock instead. `done` may do work of its own each time, such as render a block.
template <typename Predicate>
bool eventually(Predicate done, std::chrono::milliseconds limit = std::chrono::seconds(10))
{
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

} // namespace testing_support

// Opening a system library at run time: a missing library or a missing function must leave the
// table incomplete rather than half-usable, since that is what keeps the game silent instead of
// crashing on a machine without FluidSynth or SDL, or with versions that lack a function.

#include "SharedLibrary.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

using Cosine = double(double);

TEST(SharedLibrary, CompleteOnlyWhenTheLibraryAndEveryFunctionAreThere)
{
    struct Case {
        const char* soname;
        std::vector<const char*> names;
        bool complete;
    };
    const Case cases[] = {
        {"libm.so.6", {"cos", "sin"}, true},
        {"libm.so.6", {}, true},
        {"libm.so.6", {"cos", "ombura_no_such_function", "sin"}, false},
        {"libm.so.6", {"ombura_no_such_function", "cos"}, false},
        {"libombura-no-such-library.so.1", {"cos"}, false},
        {"libombura-no-such-library.so.1", {}, false},
        {"", {"cos"}, false}, // dlopen would give the program's own global scope
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.soname) + " with " + std::to_string(c.names.size()) + " names");
        sound::SharedLibrary library(c.soname);
        std::vector<Cosine*> slots(c.names.size(), nullptr);
        for (std::size_t i = 0; i < c.names.size(); ++i)
            library.bind(slots[i], c.names[i]);
        EXPECT_EQ(library.complete(), c.complete);
        // A function that is there is found even when another is not; what is missing is null.
        const bool opened = std::string(c.soname) == "libm.so.6";
        for (std::size_t i = 0; i < c.names.size(); ++i)
            EXPECT_EQ(slots[i] != nullptr, opened && std::string(c.names[i]) != "ombura_no_such_function")
                << c.names[i];
    }
}

TEST(SharedLibrary, BoundFunctionsAreTheLibrarysOwn)
{
    sound::SharedLibrary library("libm.so.6");
    Cosine* cosine = nullptr;
    library.bind(cosine, "cos");
    ASSERT_TRUE(library.complete());
    ASSERT_NE(cosine, nullptr);
    EXPECT_DOUBLE_EQ(cosine(0.0), 1.0);
    EXPECT_DOUBLE_EQ(cosine(M_PI), -1.0);
}

} // namespace

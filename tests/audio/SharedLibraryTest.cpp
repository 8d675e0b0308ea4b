// SPDX-License-Identifier: GPL-3.0-or-later

// Opening a system library at run time: a missing library or a missing function must leave the
// table incomplete rather than half-usable, since that is what keeps the game silent instead of
// crashing on a machine without FluidSynth or SDL, or with versions that lack a function.

#include "SharedLibrary.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <unistd.h>
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
        ombura::SharedLibrary library(c.soname);
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
    ombura::SharedLibrary library("libm.so.6");
    Cosine* cosine = nullptr;
    library.bind(cosine, "cos");
    ASSERT_TRUE(library.complete());
    ASSERT_NE(cosine, nullptr);
    EXPECT_DOUBLE_EQ(cosine(0.0), 1.0);
    EXPECT_DOUBLE_EQ(cosine(M_PI), -1.0);
}

// A table made by OMBURA_SYMBOL_TABLE binds every name it lists, or says it could not.
extern "C" int ombura_no_such_function(void);
#define LIBC_FUNCTIONS(X) X(strlen) X(getpid)
#define LIBC_AND_MISSING(X) X(strlen) X(ombura_no_such_function)
OMBURA_SYMBOL_TABLE(Libc, LIBC_FUNCTIONS)
OMBURA_SYMBOL_TABLE(LibcAndMissing, LIBC_AND_MISSING)

TEST(SymbolTable, BindsEveryNameOrSaysItCannot)
{
    ombura::SharedLibrary libc("libc.so.6");
    Libc table;
    ASSERT_TRUE(table.bind(libc));
    EXPECT_EQ(table.strlen("Ombura"), 6u);
    EXPECT_EQ(table.getpid(), getpid());

    ombura::SharedLibrary again("libc.so.6");
    LibcAndMissing partial;
    EXPECT_FALSE(partial.bind(again));
    EXPECT_NE(partial.strlen, nullptr);
    EXPECT_EQ(partial.ombura_no_such_function, nullptr);
}

} // namespace

// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <dlfcn.h>

namespace ombura {

// A system library opened at run time rather than linked, with its functions looked up one by
// one into a table the caller owns. The program then starts without the library and its own
// dependencies, and runs on without it when it is missing or too old.
//
// The library is never closed: one that may have started threads of its own cannot be unloaded
// safely, and the sound code keeps it for the life of the process anyway.
class SharedLibrary {
public:
    // `soname` is the file name with its major version, as the dynamic loader knows it. An
    // empty name would give the program's own global scope, never the library that was meant.
    explicit SharedLibrary(const char* soname)
        : handle_(soname != nullptr && *soname != '\0' ? dlopen(soname, RTLD_NOW | RTLD_LOCAL) : nullptr)
    { }
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;

    // Fills `function` with the library's `name`, or null when it has none.
    template <typename Function>
    void bind(Function*& function, const char* name)
    {
        void* symbol = handle_ != nullptr ? dlsym(handle_, name) : nullptr;
        missing_ = missing_ || symbol == nullptr;
        function = reinterpret_cast<Function*>(symbol);
    }

    // True when the library opened and every name bound so far was found.
    bool complete() const { return handle_ != nullptr && !missing_; }

private:
    void* handle_;
    bool missing_ = false;
};

// The table of `soname`'s functions, bound on first use and kept for the program's life. Null
// when the library or one of its functions is missing. One library per table type.
template <typename Table>
const Table* boundTable(const char* soname)
{
    static const Table* const loaded = [soname]() -> const Table* {
        static Table table;
        SharedLibrary library(soname);
        return table.bind(library) ? &table : nullptr;
    }();
    return loaded;
}

} // namespace ombura

// A table of functions looked up by name in one SharedLibrary. LIST is an X-macro that names
// each function, X(name); the library's own header gives their types. Declares struct `Table`
// with a null pointer per function and bind(library), which fills them and is true when the
// library opened and had every one.
// A declaration names the function: it cannot be put in parentheses.
#define OMBURA_SYMBOL_SLOT(name) decltype(&::name) name = nullptr; // NOLINT(bugprone-macro-parentheses)
#define OMBURA_SYMBOL_BIND(name) library.bind(name, #name);
#define OMBURA_SYMBOL_TABLE(Table, LIST)                                                                               \
    struct Table {                                                                                                     \
        LIST(OMBURA_SYMBOL_SLOT)                                                                                       \
        bool bind(::ombura::SharedLibrary& library)                                                                    \
        {                                                                                                              \
            LIST(OMBURA_SYMBOL_BIND)                                                                                   \
            return library.complete();                                                                                 \
        }                                                                                                              \
    };

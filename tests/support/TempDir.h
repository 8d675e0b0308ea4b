// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace testing_support {

// A fresh folder of the test's own, removed with everything in it. The folder handed out lies
// `inside` a fresh one under the system's temporary folder, so that a test can give its path
// blanks, quotes, non-ASCII letters or words a parser knows.
class TempDir {
public:
    explicit TempDir(const std::filesystem::path& inside = {})
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "ombura-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("cannot make a temporary folder");
        root_ = pattern;
        dir_ = root_ / inside;
        std::filesystem::create_directories(dir_);
    }
    ~TempDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return dir_; }
    std::filesystem::path file(const std::string& name) const { return dir_ / name; }
    // Writes `bytes` as the file `name` here and returns its path.
    std::string write(const std::string& name, const std::vector<std::uint8_t>& bytes) const
    {
        const std::filesystem::path p = file(name);
        std::ofstream out(p, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        if (!out)
            throw std::runtime_error("cannot write " + p.string());
        return p.string();
    }

private:
    std::filesystem::path root_;
    std::filesystem::path dir_;
};

} // namespace testing_support

#include "WavBytes.h"

#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace wavtest {

void writeFile(const std::filesystem::path& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

OddTempDir::OddTempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "ombura-audio-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    root_ = pattern;
    dir_ = root_ / "a b" / "\xC3\xBC'x dir";
    std::filesystem::create_directories(dir_);
}

OddTempDir::~OddTempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

} // namespace wavtest

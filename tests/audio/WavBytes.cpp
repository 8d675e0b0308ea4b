// SPDX-License-Identifier: GPL-3.0-or-later

#include "WavBytes.h"

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

} // namespace wavtest

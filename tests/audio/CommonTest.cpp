// SPDX-License-Identifier: GPL-3.0-or-later

// The small shared helpers under common/: the numbers of the file formats, and reading a file
// whatever is under its name.

#include "ByteOrder.h"
#include "ByteWriter.h"
#include "ReadFile.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(MidiVarLen, WritesTheFormatsOwnExamples)
{
    const struct {
        std::uint32_t value;
        Bytes bytes;
    } cases[] = {
        {0x00000000, {0x00}},
        {0x00000040, {0x40}},
        {0x0000007F, {0x7F}},
        {0x00000080, {0x81, 0x00}},
        {0x00002000, {0xC0, 0x00}},
        {0x00003FFF, {0xFF, 0x7F}},
        {0x00004000, {0x81, 0x80, 0x00}},
        {0x00100000, {0xC0, 0x80, 0x00}},
        {0x001FFFFF, {0xFF, 0xFF, 0x7F}},
        {0x00200000, {0x81, 0x80, 0x80, 0x00}},
        {0x08000000, {0xC0, 0x80, 0x80, 0x00}},
        {0x0FFFFFFF, {0xFF, 0xFF, 0xFF, 0x7F}},
    };
    for (const auto& c : cases) {
        Bytes out{0xAA};
        ombura::appendVarLen(out, c.value);
        Bytes expected{0xAA};
        expected.insert(expected.end(), c.bytes.begin(), c.bytes.end());
        EXPECT_EQ(out, expected) << std::hex << c.value;
    }
}

TEST(ByteOrder, ReadsWhatItWritesInEachOrder)
{
    Bytes b;
    ombura::appendLe32(b, 0x12345678);
    ombura::appendBe32(b, 0x12345678);
    ombura::appendLe16(b, 0xBEEF);
    ombura::appendBe16(b, 0xBEEF);
    ombura::appendBe(b, 0x07A120, 3);
    EXPECT_EQ(b, (Bytes{0x78, 0x56, 0x34, 0x12, 0x12, 0x34, 0x56, 0x78, 0xEF, 0xBE, 0xBE, 0xEF, 0x07, 0xA1, 0x20}));
    EXPECT_EQ(ombura::readLe32(b, 0), 0x12345678u);
    EXPECT_EQ(ombura::readBe32(b, 4), 0x12345678u);
    EXPECT_EQ(ombura::readLe16(b, 8), 0xBEEF);
    EXPECT_EQ(ombura::readBe16(b, 10), 0xBEEF);
    EXPECT_EQ(ombura::readBe(b, 12, 3), 0x07A120u);
    EXPECT_EQ(ombura::readLe32(b, 4), 0x78563412u) << "the orders differ";

    ombura::storeLe32(b, 0, 0xA1B2C3D4);
    ombura::storeBe32(b, 4, 0xA1B2C3D4);
    EXPECT_EQ(ombura::readLe32(b, 0), 0xA1B2C3D4u);
    EXPECT_EQ(ombura::readBe32(b, 4), 0xA1B2C3D4u);
    EXPECT_EQ(b[0], 0xD4);
    EXPECT_EQ(b[4], 0xA1);
}

class ReadFileTest : public ::testing::Test {
protected:
    std::string write(const std::string& name, std::size_t size) const
    {
        return temp.write(name, std::vector<std::uint8_t>(size, 'x'));
    }
    testing_support::TempDir temp{"ombura read"};
    const std::filesystem::path& dir = temp.path();
};

TEST_F(ReadFileTest, SaysWhatIsUnderTheNameWithoutBlockingOrOverreading)
{
    const std::string fifo = (dir / "fifo").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string file = write("ten", 10);
    const struct {
        std::string path;
        std::uint64_t limit;
        ombura::ReadError error;
        std::size_t bytes;
    } cases[] = {
        {write("empty", 0), 100, ombura::ReadError::None, 0},
        {file, 100, ombura::ReadError::None, 10},
        {file, 10, ombura::ReadError::None, 10}, // exactly the limit
        {file, 9, ombura::ReadError::TooLarge, 0},
        {(dir / "missing").string(), 100, ombura::ReadError::NotFound, 0},
        {file + "/below", 100, ombura::ReadError::NotFound, 0}, // a file used as a folder
        {dir.string(), 100, ombura::ReadError::NotAFile, 0},
        {fifo, 100, ombura::ReadError::NotAFile, 0}, // and no writer is waited for
        {"/dev/null", 100, ombura::ReadError::NotAFile, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const ombura::FileContents got = ombura::readRegularFile(c.path, c.limit);
        EXPECT_EQ(got.error, c.error);
        EXPECT_EQ(got.bytes.size(), c.bytes);
    }
}

TEST_F(ReadFileTest, AFileThatWillNotOpenIsNotCalledMissing)
{
    // A link to itself is there but never opens, for root too, who would open a locked file.
    const std::string loop = (dir / "loop").string();
    ASSERT_EQ(symlink(loop.c_str(), loop.c_str()), 0);
    EXPECT_EQ(ombura::readRegularFile(loop, 100).error, ombura::ReadError::CannotOpen);
}

} // namespace

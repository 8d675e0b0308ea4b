// SPDX-License-Identifier: GPL-3.0-or-later

#include "../support/SkipUnlessCi.h"
#include "ByteOrder.h"
#include "DataFiles.h"
#include "OmburaVersion.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Outcome {
    int status = -1;
    std::string output;
};

std::string quoted(const std::string& s)
{
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

Outcome run(const std::string& command)
{
    Outcome r;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        return r;
    std::array<char, 4096> buffer{};
    while (std::size_t n = std::fread(buffer.data(), 1, buffer.size(), pipe))
        r.output.append(buffer.data(), n);
    const int wait = pclose(pipe);
    r.status = WIFEXITED(wait) ? WEXITSTATUS(wait) : 128 + WTERMSIG(wait);
    return r;
}

bool haveTool(const std::string& tool)
{
    return run("command -v " + tool).status == 0;
}

std::vector<std::string> split(const std::string& list)
{
    std::vector<std::string> out;
    std::stringstream in(list);
    for (std::string item; std::getline(in, item, ',');)
        if (!item.empty())
            out.push_back(item);
    return out;
}

std::string slurp(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The [Desktop Entry] group as key -> value.
std::map<std::string, std::string> desktopEntry(const fs::path& path)
{
    std::map<std::string, std::string> keys;
    std::ifstream in(path);
    bool inGroup = false;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.front() == '[')
            inGroup = line == "[Desktop Entry]";
        else if (auto eq = line.find('='); inGroup && eq != std::string::npos)
            keys[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return keys;
}

// A PNG's width and height from its header.
std::pair<int, int> pngSize(const fs::path& path)
{
    const std::string bytes = slurp(path);
    if (bytes.size() < 24 || bytes.compare(1, 3, "PNG") != 0)
        return {0, 0};
    const std::span<const std::uint8_t> b(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    return {static_cast<int>(ombura::readBe32(b, 16)), static_cast<int>(ombura::readBe32(b, 20))};
}

// One scratch installation shared by every case.
class Installed : public ::testing::Environment {
public:
    static inline std::unique_ptr<testing_support::TempDir> folder;
    static inline fs::path prefix;
    static inline Outcome install;

    void SetUp() override
    {
        folder = std::make_unique<testing_support::TempDir>();
        prefix = folder->path();
        install = run(quoted(OMBURA_CMAKE_COMMAND) + " --install " + quoted(OMBURA_BUILD_DIR) + " --prefix " +
                      quoted(prefix.string()));
    }
    void TearDown() override { folder.reset(); }
};

class InstallTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(Installed::prefix.empty());
        ASSERT_EQ(Installed::install.status, 0) << Installed::install.output;
    }
    static fs::path at(const std::string& relative) { return Installed::prefix / relative; }
    static fs::path programDir() { return at(OMBURA_INSTALL_DIR); }
    static fs::path desktopFile()
    {
        return at(std::string(OMBURA_DATADIR) + "/applications/" + OMBURA_APP_ID ".desktop");
    }
    static fs::path metainfoFile()
    {
        return at(std::string(OMBURA_DATADIR) + "/metainfo/" + OMBURA_APP_ID ".metainfo.xml");
    }
};

} // namespace

TEST_F(InstallTest, ProgramAndDataFilesShareAFolderWithALauncherOnPath)
{
    const fs::path program = programDir() / "ombura";
    ASSERT_TRUE(fs::is_regular_file(program));
    EXPECT_NE(fs::status(program).permissions() & fs::perms::owner_exec, fs::perms::none);
    for (const std::string_view name : assets::kDataFiles) {
        const std::string data(name);
        EXPECT_TRUE(fs::is_regular_file(programDir() / data)) << data;
        EXPECT_GT(fs::file_size(programDir() / data), 0u) << data;
    }

    // The launcher is a relative link, so a staged or moved tree still works.
    const fs::path launcher = at(std::string(OMBURA_BINDIR) + "/ombura");
    ASSERT_TRUE(fs::is_symlink(launcher));
    EXPECT_TRUE(fs::read_symlink(launcher).is_relative()) << fs::read_symlink(launcher);
    EXPECT_EQ(fs::canonical(launcher), fs::canonical(program));
}

TEST_F(InstallTest, DesktopEntryNamesTheGameAndValidates)
{
    ASSERT_TRUE(fs::is_regular_file(desktopFile()));
    const auto keys = desktopEntry(desktopFile());
    const std::map<std::string, std::string> expected{
        {"Type", "Application"},           {"Name", "Ombura"},    {"Exec", "ombura"},
        {"Icon", OMBURA_APP_ID},           {"Terminal", "false"}, {"Categories", "Game;ArcadeGame;"},
        {"X-Ombura-Version", "1.00.0004"},
    };
    for (const auto& [key, value] : expected) {
        ASSERT_TRUE(keys.count(key)) << key;
        EXPECT_EQ(keys.at(key), value) << key;
    }
    for (const char* key : {"Name[ja]", "Comment", "Comment[ja]"})
        EXPECT_FALSE(keys.count(key) == 0 || keys.at(key).empty()) << key;

    ASSERT_TRUE(haveTool("desktop-file-validate")) << "tools/setup.sh installs desktop-file-utils";
    const Outcome check = run("desktop-file-validate " + quoted(desktopFile().string()));
    EXPECT_EQ(check.status, 0) << check.output;
    EXPECT_EQ(check.output, "") << "hints and warnings count too";
}

TEST_F(InstallTest, MetainfoCarriesTheReleaseAndValidates)
{
    ASSERT_TRUE(fs::is_regular_file(metainfoFile()));
    const std::string xml = slurp(metainfoFile());
    for (const std::string& needle :
         {std::string("<id>") + OMBURA_APP_ID + "</id>", std::string("<release version=\"1.0.0.4\""),
          std::string("1.00.0004"), std::string("<launchable type=\"desktop-id\">") + OMBURA_APP_ID + ".desktop<",
          std::string("<lang percentage=\"100\">ja</lang>"), std::string("<name xml:lang=\"ja\">"),
          std::string("<binary>ombura</binary>")})
        EXPECT_NE(xml.find(needle), std::string::npos) << needle;
    EXPECT_EQ(std::string(OMBURA_VERSION), "1.0.0.4");
    EXPECT_EQ(std::string(OMBURA_VERSION_TEXT), "1.00.0004");

    ASSERT_TRUE(haveTool("appstreamcli")) << "tools/setup.sh installs appstream";
    const Outcome check = run("appstreamcli validate --no-net " + quoted(metainfoFile().string()));
    EXPECT_EQ(check.status, 0) << check.output;
}

TEST_F(InstallTest, IconsAtEverySizeUnderTheApplicationsId)
{
    const std::vector<std::string> icons = split(OMBURA_ICONS);
    ASSERT_FALSE(icons.empty()) << "no icons were found to install under assets/icons/hicolor";
    for (const std::string& icon : icons) {
        const fs::path path = at(std::string(OMBURA_DATADIR) + "/icons/hicolor/" + icon);
        SCOPED_TRACE(path.string());
        ASSERT_TRUE(fs::is_regular_file(path));
        if (path.extension() != ".png")
            continue;
        // hicolor/48x48/apps/... holds a 48 x 48 picture.
        const std::string dir = fs::path(icon).begin()->string();
        const int n = std::stoi(dir.substr(0, dir.find('x')));
        EXPECT_EQ(pngSize(path), std::make_pair(n, n));
    }
    for (const char* size : {"16x16", "22x22", "24x24", "32x32", "48x48", "64x64", "128x128", "256x256", "scalable"})
        EXPECT_NE(std::find_if(icons.begin(), icons.end(), [&](const std::string& i) { return i.rfind(size, 0) == 0; }),
                  icons.end())
            << size;
}

TEST_F(InstallTest, HelpFileLiesBesideTheBuiltProgramAndInTheDocumentsTheManualNames)
{
    // The information dialog sends the player to the help file: it must be where a player looks.
    const fs::path built = fs::path(OMBURA_BUILD_DIR) / "help.html";
    const fs::path installed = at(std::string(OMBURA_DATADIR) + "/doc/ombura/help.html");
    for (const fs::path& help : {built, installed}) {
        SCOPED_TRACE(help.string());
        ASSERT_TRUE(fs::is_regular_file(help));
        const std::string text = slurp(help);
        EXPECT_NE(text.find("<html lang=\"ja\">"), std::string::npos);
        // What to press, the countdown, intruders and pinwheels, levels and the costume.
        for (const char* words : {"開始", "カウントダウン", "侵入者", "風車", "120", "衣装"})
            EXPECT_NE(text.find(words), std::string::npos) << words;
    }
    const Outcome man = run("gzip -dc " + quoted(at(std::string(OMBURA_DATADIR) + "/man/man6/ombura.6.gz").string()));
    EXPECT_NE(man.output.find("/usr/share/doc/ombura/help.html"), std::string::npos);
}

TEST_F(InstallTest, LauncherIgnoresItsArgumentsAndFindsItsFolder)
{
    // Were the arguments handed on, Qt would fail at once on the unknown platform plugin.
    const fs::path launcher = at(std::string(OMBURA_BINDIR) + "/ombura");
    const std::string args = " -platform no-such-plugin --help -style x /nonexistent";
    const bool traced = haveTool("strace");
    const fs::path trace = Installed::prefix / "trace.log";
    const std::string command =
        "QT_QPA_PLATFORM=offscreen SDL_AUDIODRIVER=dummy timeout 3 " +
        (traced ? "strace -f -qq -e trace=openat -o " + quoted(trace.string()) + " " : std::string()) +
        quoted(launcher.string()) + args;
    const Outcome r = run(command);
    EXPECT_EQ(r.status, 124) << "the program should still be running when stopped:\n" << r.output;
    EXPECT_EQ(r.output.find("Usage"), std::string::npos) << r.output;
    if (!traced)
        SKIP_UNLESS_CI("strace is not installed: which folder the data files come from is not checked");

    // Every data file the program opens comes from its own folder, reached through the link.
    std::istringstream log(slurp(trace));
    int opened = 0;
    for (std::string line; std::getline(log, line);)
        for (const std::string_view name : assets::kDataFiles)
            if (const std::string data(name); line.find("/" + data + "\"") != std::string::npos) {
                ++opened;
                EXPECT_NE(line.find(fs::canonical(programDir()).string() + "/" + data), std::string::npos) << line;
            }
    if (opened == 0)
        SKIP_UNLESS_CI("the program opened no data file in its first seconds; only the layout was checked");
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new Installed);
    return RUN_ALL_TESTS();
}

// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

// The four data files the program reads from its own folder. The build makes, checks and installs
// the same files: the top-level CMakeLists.txt reads their names from the four lines below, so
// they keep their form (one k...File name and its file name per line).

#include <array>
#include <string_view>

namespace assets {

inline constexpr std::string_view kMusicFile = "bgm.dat";
inline constexpr std::string_view kSpinFile = "kuruiya.dat";
inline constexpr std::string_view kWarningFile = "keikoku.dat";
inline constexpr std::string_view kSlashFile = "zaku.dat";

inline constexpr std::array kDataFiles{kMusicFile, kSpinFile, kWarningFile, kSlashFile};

} // namespace assets

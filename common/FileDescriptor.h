// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <unistd.h>

namespace ombura {

// Owns an open file descriptor and closes it on every way out.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) { }
    ~FileDescriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

} // namespace ombura

// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QHash>
#include <QImage>
#include <QString>

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace form::qt {

// Decodes pictures on a thread of its own, in the order given, so that the window's first frame
// does not wait for them. The first picture a program decodes is the dear one: Qt first looks
// through its image format plugins, which alone costs a few milliseconds. Safe to start before
// the QApplication exists, on the thread that will make it; pictures are decoded as QImage,
// which any thread may do.
class PictureDecoder {
public:
    explicit PictureDecoder(std::vector<QString> resources);
    ~PictureDecoder();
    PictureDecoder(const PictureDecoder&) = delete;
    PictureDecoder& operator=(const PictureDecoder&) = delete;

    // The picture, once. Waits for the worker if it is still on its way there; a picture that
    // was never asked for is decoded by the caller.
    QImage take(const QString& resource);

private:
    void run();

    std::vector<QString> queue_;
    std::mutex mutex_;
    std::condition_variable decoded_;
    QHash<QString, QImage> done_;
    std::size_t next_ = 0; // the worker's place in the queue; guarded by mutex_
    bool stop_ = false;
    std::thread worker_;
};

} // namespace form::qt

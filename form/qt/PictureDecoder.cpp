// SPDX-License-Identifier: GPL-3.0-or-later

#include "PictureDecoder.h"

#include <QThread>

#include <algorithm>
#include <utility>

namespace form::qt {

PictureDecoder::PictureDecoder(std::vector<QString> resources) : queue_(std::move(resources))
{
    // Qt takes the first thread that asks for its thread data for its main thread, and a decoder
    // made before the QApplication must leave that to the thread that made it.
    QThread::currentThread();
    worker_ = std::thread([this] { run(); });
}

PictureDecoder::~PictureDecoder()
{
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    worker_.join();
}

void PictureDecoder::run()
{
    for (;;) {
        QString resource;
        {
            std::lock_guard lock(mutex_);
            if (stop_ || next_ >= queue_.size())
                break;
            resource = queue_[next_];
        }
        QImage image(resource);
        {
            std::lock_guard lock(mutex_);
            done_.insert(resource, image); // QImage is shared, so this copies no pixels
            ++next_;
        }
        decoded_.notify_all();
    }
    // Whoever waits for a picture the worker will not reach any more decodes it alone.
    {
        std::lock_guard lock(mutex_);
        next_ = queue_.size();
    }
    decoded_.notify_all();
}

QImage PictureDecoder::take(const QString& resource)
{
    std::unique_lock lock(mutex_);
    const auto queued = std::find(queue_.begin(), queue_.end(), resource);
    if (queued != queue_.end()) {
        const auto place = static_cast<std::size_t>(queued - queue_.begin());
        decoded_.wait(lock, [&] { return next_ > place || done_.contains(resource); });
        if (auto it = done_.find(resource); it != done_.end()) {
            QImage image = std::move(*it);
            done_.erase(it);
            return image;
        }
    }
    lock.unlock();
    return QImage(resource);
}

} // namespace form::qt

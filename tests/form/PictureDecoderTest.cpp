// SPDX-License-Identifier: GPL-3.0-or-later

// The decoder that takes picture decoding off the first frame's path: whatever the order of the
// requests and wherever the worker is, each request gets the picture the resource holds.

#include "PictureDecoder.h"
#include "PictureTable.h"

#include <QImage>
#include <QString>

#include <gtest/gtest.h>

#include <vector>

namespace {

using form::qt::PictureDecoder;

std::vector<QString> allPictures()
{
    std::vector<QString> out;
    for (const assets::PictureInfo& p : assets::pictures())
        out.push_back(QString::fromUtf8(p.resource.data(), static_cast<qsizetype>(p.resource.size())));
    return out;
}

} // namespace

TEST(PictureDecoder, EveryRequestGetsItsPictureWhateverTheOrder)
{
    const std::vector<QString> queued = allPictures();
    ASSERT_GE(queued.size(), 3u);
    const struct {
        const char* name;
        std::vector<QString> asked;
    } cases[] = {
        {"in the queue's order", queued},
        {"backwards, so that the first request waits for the last picture", {queued.rbegin(), queued.rend()}},
        {"each twice: the second is decoded by the caller",
         [&] {
             std::vector<QString> twice;
             for (const QString& r : queued)
                 twice.insert(twice.end(), {r, r});
             return twice;
         }()},
        {"one that was never queued, and one that does not exist", {queued[1], ":/pictures/missing.xpm"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PictureDecoder decoder(c.name == cases[3].name ? std::vector<QString>{queued[0]} : queued);
        for (const QString& resource : c.asked) {
            const QImage expected(resource);
            const QImage got = decoder.take(resource);
            EXPECT_EQ(got.isNull(), expected.isNull()) << resource.toStdString();
            EXPECT_EQ(got.convertToFormat(QImage::Format_ARGB32), expected.convertToFormat(QImage::Format_ARGB32))
                << resource.toStdString();
        }
    }
    // Never asked for anything, a decoder goes away at once: its worker stops, and the destructor
    // waits for no picture. A hang here runs into the test's timeout.
    for (int i = 0; i < 20; ++i)
        PictureDecoder decoder(allPictures());
}

// SPDX-License-Identifier: GPL-3.0-or-later

// The picture set as the program loads it: from the Qt resources linked in
// through ombura_assets, checked against the table that binds them.

#include "Layouts.h"
#include "ManualClock.h"
#include "PictureTable.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QSet>
#include <QString>

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace {

QString qs(std::string_view s)
{
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

QImage load(const assets::PictureInfo& p)
{
    return QImage(qs(p.resource));
}

TEST(Pictures, EveryPictureLoadsAtItsSize)
{
    for (const assets::PictureInfo& p : assets::pictures()) {
        SCOPED_TRACE(std::string(p.name));
        const QImage img = load(p);
        ASSERT_FALSE(img.isNull());
        EXPECT_EQ(img.width(), p.width);
        EXPECT_EQ(img.height(), p.height);
    }
}

TEST(Pictures, RoomIsAnOpaqueTwentyFourBitBitmap)
{
    const assets::PictureInfo* room = assets::findPicture("room");
    ASSERT_NE(room, nullptr);
    EXPECT_EQ(room->width, 400);
    EXPECT_EQ(room->height, 250);
    QFile f(qs(room->resource));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    ASSERT_GE(bytes.size(), 54);
    EXPECT_EQ(bytes.left(2), QByteArray("BM"));
    EXPECT_EQ(quint8(bytes[28]) | (quint8(bytes[29]) << 8), 24); // bits per pixel
    EXPECT_EQ(bytes.size(), 54 + 400 * 3 * 250);
    EXPECT_FALSE(load(*room).hasAlphaChannel());
}

TEST(Pictures, SmallPicturesHaveAPaletteAndOneBitTransparency)
{
    for (const assets::PictureInfo& p : assets::pictures()) {
        if (p.name == "room")
            continue;
        SCOPED_TRACE(std::string(p.name));
        const QImage img = load(p).convertToFormat(QImage::Format_ARGB32);
        ASSERT_EQ(img.size(), QSize(32, 32));
        QSet<QRgb> colours;
        int transparent = 0;
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x) {
                const QRgb c = img.pixel(x, y);
                const int a = qAlpha(c);
                EXPECT_TRUE(a == 0 || a == 255) << "partial alpha at " << x << "," << y;
                transparent += a == 0;
                colours.insert(a == 0 ? 0u : c);
            }
        EXPECT_LE(colours.size(), 256);
        // A figure on a transparent ground: some of each.
        EXPECT_GT(transparent, 32 * 32 / 10);
        EXPECT_GT(32 * 32 - transparent, 32 * 32 / 10);
    }
}

TEST(Pictures, XpmSourcesDeclareAtMost256ColoursAndNoneForTransparency)
{
    for (const assets::PictureInfo& p : assets::pictures()) {
        if (!qs(p.resource).endsWith(".xpm"))
            continue;
        SCOPED_TRACE(std::string(p.name));
        QFile f(qs(p.resource));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly | QIODevice::Text));
        const QString text = QString::fromUtf8(f.readAll());
        const qsizetype first = text.indexOf('"');
        const QStringList header = text.mid(first + 1, text.indexOf('"', first + 1) - first - 1).split(' ');
        ASSERT_GE(header.size(), 4);
        EXPECT_EQ(header[0], "32");
        EXPECT_EQ(header[1], "32");
        EXPECT_LE(header[2].toInt(), 256);
        EXPECT_EQ(header[3], "1");
        EXPECT_TRUE(text.contains(" c None\"")) << "no transparent colour";
    }
}

TEST(Pictures, DistinctPicturesReallyDiffer)
{
    // Two table rows that silently pointed at the same artwork would make a
    // spin frame or a costume vanish from the game.
    std::map<std::string, QImage> images;
    for (const assets::PictureInfo& p : assets::pictures())
        images[std::string(p.name)] = load(p).convertToFormat(QImage::Format_ARGB32);
    for (auto a = images.begin(); a != images.end(); ++a)
        for (auto b = std::next(a); b != images.end(); ++b)
            EXPECT_NE(a->second, b->second) << a->first << " and " << b->first;
}

TEST(Pictures, ResourceFolderHoldsExactlyTheTable)
{
    QSet<QString> listed;
    for (const assets::PictureInfo& p : assets::pictures())
        listed.insert(qs(p.resource));
    QSet<QString> present;
    for (const QString& name : QDir(":/pictures").entryList(QDir::Files))
        present.insert(":/pictures/" + name);
    EXPECT_EQ(listed, present);
}

TEST(Pictures, CountdownCornerOfTheRoomIsLightEnoughForBlackText)
{
    // The seconds are lettered in black 48 pt over (16,24)-(80,88), and the
    // word before them over (8,8)-(86,20).
    const QImage room = load(*assets::findPicture("room"));
    for (const QRect& r : {QRect(16, 24, 64, 64), QRect(8, 8, 78, 12), QRect(88, 80, 12, 12)})
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                ASSERT_GE(qGray(room.pixel(x, y)), 150) << "dark pixel at " << x << "," << y;
}

TEST(Pictures, FiguresStandOnTheMatFloor)
{
    // Under the two figures' feet the room shows straw mat, not a wall.
    const QImage room = load(*assets::findPicture("room"));
    for (int x = 212; x < 260; x += 4) {
        const QColor c = room.pixelColor(x, 174);
        EXPECT_GT(c.red(), c.blue() + 40) << x;
        EXPECT_GT(c.green(), c.blue() + 40) << x;
    }
}

struct Forms {
    form::ManualClock clock;
    form::Form form1{form::form1Layout(), &clock};
    form::Form form2{form::form2Layout(), &clock};
};

TEST(PictureBindings, EveryElementHoldsItsPictureAtCreation)
{
    Forms f;
    assets::applyPictures(f.form1);
    assets::applyPictures(f.form2);
    for (const assets::PictureBinding& b : assets::bindings()) {
        SCOPED_TRACE(std::string(b.form) + "." + std::string(b.element));
        const assets::PictureInfo* p = assets::findPicture(b.picture);
        ASSERT_NE(p, nullptr);
        form::Form& form = b.form == "Form1" ? f.form1 : f.form2;
        const form::Element* e = form.find(b.element);
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->picture(), p->resource);
    }
}

TEST(PictureBindings, NoPictureElementIsLeftEmpty)
{
    Forms f;
    assets::applyPictures(f.form1);
    assets::applyPictures(f.form2);
    for (const form::Form* form : {&f.form1, &f.form2})
        for (const form::Element& e : form->elements()) {
            if (e.kind() == form::ElementKind::Picture) {
                EXPECT_FALSE(e.picture().empty()) << form->name() << "." << e.name();
            }
        }
}

TEST(PictureBindings, SharedPicturesAreTheSameResource)
{
    Forms f;
    assets::applyPictures(f.form1);
    // The stores and the elements they fill must show identical pictures.
    const std::pair<const char*, const char*> same[] = {
        {"Image3", "Image9"},  {"Image4", "Image20"}, {"Image5", "Image24"}, {"Image7", "Image22"},
        {"Image6", "Image21"}, {"Image8", "Image23"}, {"Image2", "Image12"}, {"Image2", "Image13"},
    };
    for (const auto& [a, b] : same)
        EXPECT_EQ(f.form1.element(a).picture(), f.form1.element(b).picture()) << a << " " << b;
    std::set<std::string> distinct;
    for (const char* name : {"Image3", "Image10", "Image4", "Image5", "Image6", "Image7", "Image8", "Image16",
                             "Image17", "Image18", "Image19", "Image2", "Image14", "Image15", "Image1"})
        EXPECT_TRUE(distinct.insert(f.form1.element(name).picture()).second) << name;
}

TEST(PictureBindings, ApplyingToAnUnknownFormChangesNothing)
{
    form::FormLayout layout{};
    layout.name = "Form9";
    form::ManualClock clock;
    form::Form other(layout, &clock);
    assets::applyPictures(other); // must neither crash nor invent elements
    EXPECT_TRUE(other.elements().empty());
}

} // namespace

TEST(PictureBindings, FirstFrameNeedsTheVisibleElementsPicturesBackToFront)
{
    // These are decoded ahead of the first frame; a hidden store's picture there would only
    // make the first frame wait longer.
    const struct {
        const form::FormLayout& layout;
        std::vector<std::string_view> expected;
    } cases[] = {
        {form::form1Layout(), {":/pictures/room.bmp", ":/pictures/player_rest.xpm", ":/pictures/girl_rest.xpm"}},
        {form::form2Layout(), {":/pictures/icon.xpm"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(assets::picturesShownAtStart(c.layout), c.expected) << c.layout.name;
}

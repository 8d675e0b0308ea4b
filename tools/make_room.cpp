// SPDX-License-Identifier: GPL-3.0-or-later

// Draws the room behind the game, 400 x 250, as a 24-bit bitmap.
//
// The room is laid out in metres and projected with a single vanishing point
// above the picture, so the mats, beams and doors all recede together. The
// camera sits high and looks down into a roofless hall; where the left wall
// falls away towards the viewer, the void above it stays plain grey, which is
// also the quiet corner where the countdown is lettered.
//
// Usage: make_room <output.bmp>

#include <QImage>
#include <QPainter>
#include <QPointF>
#include <QPolygonF>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

using Rgb = QRgb;
using Pt = QPointF;

constexpr Rgb hex(QRgb v)
{
    return 0xFF000000u | v;
}

// Flat fills without anti-aliasing, so the room keeps the hard pixel edges
// of the figures that stand in it.
class Canvas {
public:
    Canvas(int width, int height, Rgb fill) : image_(width, height, QImage::Format_RGB32)
    {
        image_.fill(fill);
        painter_.begin(&image_);
    }

    void fillPolygon(const QPolygonF& poly, Rgb c)
    {
        painter_.setPen(Qt::NoPen);
        painter_.setBrush(QColor(c));
        painter_.drawPolygon(poly, Qt::OddEvenFill);
    }
    void fillRect(int x0, int y0, int x1, int y1, Rgb c) // half-open [x0,x1) x [y0,y1)
    {
        if (x1 > x0 && y1 > y0)
            painter_.fillRect(x0, y0, x1 - x0, y1 - y0, QColor(c));
    }
    void set(int x, int y, Rgb c) { fillRect(x, y, x + 1, y + 1, c); }
    // A line of the given thickness, filled as a quadrilateral; thin lines
    // would vanish between pixel centres, so they are widened to one pixel.
    void line(Pt a, Pt b, double thickness, Rgb c)
    {
        const QLineF l(a, b);
        if (l.length() == 0) {
            set(int(a.x()), int(a.y()), c);
            return;
        }
        const QPointF n = QPointF(-l.dy(), l.dx()) / l.length() * (std::max(thickness, 1.0) / 2);
        fillPolygon({a + n, b + n, b - n, a - n}, c);
    }
    void fillEllipse(double cx, double cy, double rx, double ry, Rgb c)
    {
        painter_.setPen(Qt::NoPen);
        painter_.setBrush(QColor(c));
        painter_.drawEllipse(Pt(cx, cy), rx, ry);
    }

    bool save(const char* path)
    {
        painter_.end();
        return image_.save(QString::fromLocal8Bit(path), "BMP");
    }

private:
    QImage image_;
    QPainter painter_;
};

constexpr int kWidth = 400;
constexpr int kHeight = 250;

// Projection: screen = vanishing point + (X, eye height - Y) * focal / Z.
constexpr double kVx = 215, kVy = -70;
constexpr double kEye = 11.5;
constexpr double kFocal = 245;

constexpr double kBackZ = 18.8; // the back wall
constexpr double kLeftX = -7.9; // the left wall
constexpr double kFarRight = 40; // well past the right edge of the picture
constexpr double kNearZ = 6.0; // in front of the bottom edge
constexpr double kWallTop = 7.3; // above the picture along the back wall

// Heights on the walls: the door lintel's top edge sits exactly at y = 48 on
// the back wall, so the intruder who peeks there rises from behind it.
constexpr double kSillTop = 0.10;
constexpr double kLintelLow = 2.14, kLintelHigh = 2.44;
constexpr double kBeamLow = 5.00, kBeamHigh = 5.40;
// The left wall is cut away a little lower, with a slimmer cap, so that the
// countdown's corner above it stays clear for black lettering.
constexpr double kCutLow = 2.14, kCutHigh = 2.26;

namespace colour {
constexpr Rgb outside = hex(0xB4B4B4);
constexpr Rgb backWall = hex(0xA8D6EE);
constexpr Rgb leftWall = hex(0x98CAE6);
constexpr Rgb beam = hex(0x7C1C18);
constexpr Rgb beamDark = hex(0x56100E);
constexpr Rgb beamLight = hex(0x9A322A);
constexpr Rgb outline = hex(0x2A1410);
constexpr Rgb sill = hex(0x6A3A22);
constexpr Rgb paper = hex(0xF8F6EC);
constexpr Rgb paperShade = hex(0xE2E0D4);
constexpr Rgb lattice = hex(0xB8A488);
constexpr Rgb doorFrame = hex(0x8E6440);
constexpr Rgb mat = hex(0xEADF9E);
constexpr Rgb matStripe = hex(0xE2D592);
constexpr Rgb matJoint = hex(0xC4B26E);
constexpr Rgb border = hex(0x2F7D3A);
constexpr Rgb borderDark = hex(0x1D5626);
constexpr Rgb corridorWall = hex(0xE6D8B4);
constexpr Rgb corridorFloor = hex(0xB98E5C);
constexpr Rgb corridorBoard = hex(0xA27A4C);
constexpr Rgb tableTop = hex(0xF08C2C);
constexpr Rgb tableFront = hex(0xC8661C);
constexpr Rgb tableLeg = hex(0x9C4A16);
constexpr Rgb shadow = hex(0xC9BC7E);
constexpr Rgb iron = hex(0x383030);
constexpr Rgb wax = hex(0xFFFFF4);
constexpr Rgb waxShade = hex(0xD8D4C4);
constexpr Rgb flameOuter = hex(0xFF9A1E);
constexpr Rgb flameInner = hex(0xFFF07A);
constexpr Rgb glow = hex(0xFFF4C2);
constexpr Rgb flask = hex(0x3E9C48);
constexpr Rgb flaskLight = hex(0x78C882);
constexpr Rgb flaskDark = hex(0x236A2C);
constexpr Rgb screenPanel = hex(0xEBD7A0);
constexpr Rgb screenShade = hex(0xD2BB80);
constexpr Rgb screenPine = hex(0x5E8E4A);
} // namespace colour

struct World {
    double x, y, z;
};

Pt project(World w)
{
    const double s = kFocal / w.z;
    return {kVx + w.x * s, kVy + (kEye - w.y) * s};
}

double scaleAt(double z)
{
    return kFocal / z;
}

// A rectangle lying in a plane of constant X, Y or Z, given by two corners.
void quad(Canvas& c, World a, World b, World cc, World d, Rgb col)
{
    c.fillPolygon({project(a), project(b), project(cc), project(d)}, col);
}

void backWallRect(Canvas& c, double x0, double x1, double y0, double y1, Rgb col)
{
    quad(c, {x0, y0, kBackZ}, {x1, y0, kBackZ}, {x1, y1, kBackZ}, {x0, y1, kBackZ}, col);
}

void leftWallRect(Canvas& c, double z0, double z1, double y0, double y1, Rgb col)
{
    quad(c, {kLeftX, y0, z0}, {kLeftX, y0, z1}, {kLeftX, y1, z1}, {kLeftX, y1, z0}, col);
}

void floorRect(Canvas& c, double x0, double x1, double z0, double z1, Rgb col)
{
    quad(c, {x0, 0, z0}, {x1, 0, z0}, {x1, 0, z1}, {x0, 0, z1}, col);
}

// A shoji panel: white paper in a wooden frame with a grid of thin bars.
void backShoji(Canvas& c, double x0, double x1, double y0, double y1)
{
    backWallRect(c, x0, x1, y0, y1, colour::doorFrame);
    const double fx = 0.07, fy = 0.09;
    backWallRect(c, x0 + fx, x1 - fx, y0 + fy, y1 - fy, colour::paper);
    // Skirt board along the bottom, as real shoji have.
    backWallRect(c, x0 + fx, x1 - fx, y0 + fy, y0 + 0.42, colour::paperShade);
    const int cols = 3, rows = 6;
    const Pt p00 = project({x0 + fx, y0 + 0.42, kBackZ});
    const Pt p11 = project({x1 - fx, y1 - fy, kBackZ});
    for (int i = 1; i < cols; ++i) {
        const double x = std::round(p00.x() + (p11.x() - p00.x()) * i / cols);
        c.fillRect(int(x), int(std::round(p11.y())), int(x) + 1, int(std::round(p00.y())), colour::lattice);
    }
    for (int j = 1; j < rows; ++j) {
        const double y = std::round(p00.y() + (p11.y() - p00.y()) * j / rows);
        c.fillRect(int(std::round(p00.x())), int(y), int(std::round(p11.x())), int(y) + 1, colour::lattice);
    }
    c.line(project({x0, y0, kBackZ}), project({x0, y1, kBackZ}), 1, colour::outline);
}

// A square post standing against the back wall: front face plus the side
// that faces the vanishing point.
void backPost(Canvas& c, double x, double y1)
{
    const double w = 0.30, d = 0.30;
    const double z0 = kBackZ - d;
    const bool leftOfEye = x + w < 0;
    // The side turned towards the centre of the picture shows.
    if (leftOfEye)
        quad(c, {x + w, 0, z0}, {x + w, 0, kBackZ}, {x + w, y1, kBackZ}, {x + w, y1, z0}, colour::beamDark);
    else
        quad(c, {x, 0, z0}, {x, 0, kBackZ}, {x, y1, kBackZ}, {x, y1, z0}, colour::beamDark);
    quad(c, {x, 0, z0}, {x + w, 0, z0}, {x + w, y1, z0}, {x, y1, z0}, colour::beam);
    const Pt a = project({x, 0, z0}), b = project({x + w, y1, z0});
    c.fillRect(int(std::round(a.x())) + 1, int(std::round(b.y())), int(std::round(a.x())) + 2, int(std::round(a.y())),
               colour::beamLight);
    c.line(project({x, 0, z0}), project({x, y1, z0}), 1, colour::outline);
    c.line(project({x + w, 0, z0}), project({x + w, y1, z0}), 1, colour::outline);
}

void leftPost(Canvas& c, double z, double y1)
{
    const double w = 0.30;
    // Seen from the right, a post on the left wall shows its face towards us
    // and its front edge.
    quad(c, {kLeftX, 0, z}, {kLeftX + w, 0, z}, {kLeftX + w, y1, z}, {kLeftX, y1, z}, colour::beamDark);
    quad(c, {kLeftX + w, 0, z}, {kLeftX + w, 0, z + w}, {kLeftX + w, y1, z + w}, {kLeftX + w, y1, z}, colour::beam);
    c.line(project({kLeftX, y1, z}), project({kLeftX, 0, z}), 1, colour::outline);
    c.line(project({kLeftX + w, y1, z}), project({kLeftX + w, 0, z}), 1, colour::outline);
}

void drawWalls(Canvas& c)
{
    // Back wall and left wall, plain plaster first.
    backWallRect(c, kLeftX, kFarRight, 0, kWallTop, colour::backWall);
    leftWallRect(c, kNearZ, kBackZ, 0, kCutHigh, colour::leftWall);

    // Back wall: a row of shoji between the sill and the lintel, two posts
    // to a bay; a paper transom over the leftmost bay where the peeker rises.
    backWallRect(c, kLeftX, kFarRight, 0, kSillTop, colour::sill);
    const double panel = 0.95;
    for (double x = kLeftX + 0.30; x < 16; x += panel)
        backShoji(c, x, x + panel, kSillTop, kLintelLow);
    backWallRect(c, kLeftX, kFarRight, kLintelLow, kLintelHigh, colour::beam);
    backWallRect(c, kLeftX, kFarRight, kLintelLow, kLintelLow + 0.07, colour::beamDark);
    c.line(project({kLeftX, kLintelHigh, kBackZ}), project({kFarRight, kLintelHigh, kBackZ}), 1, colour::outline);
    c.line(project({kLeftX, kLintelLow, kBackZ}), project({kFarRight, kLintelLow, kBackZ}), 1, colour::outline);

    // Transoms: latticed paper panels between lintel and upper beam.
    for (double x0 : {-7.45, 0.25, 7.95}) {
        const double x1 = x0 + 3.3;
        backWallRect(c, x0, x1, kLintelHigh + 0.25, kBeamLow - 0.25, colour::doorFrame);
        backWallRect(c, x0 + 0.1, x1 - 0.1, kLintelHigh + 0.35, kBeamLow - 0.35, colour::paper);
        for (int i = 1; i < 8; ++i) {
            const double x = x0 + 0.1 + (x1 - x0 - 0.2) * i / 8;
            c.line(project({x, kLintelHigh + 0.35, kBackZ}), project({x, kBeamLow - 0.35, kBackZ}), 1, colour::lattice);
        }
        c.line(project({x0 + 0.1, (kLintelHigh + kBeamLow) / 2, kBackZ}),
               project({x1 - 0.1, (kLintelHigh + kBeamLow) / 2, kBackZ}), 1, colour::lattice);
    }

    backWallRect(c, kLeftX, kFarRight, kBeamLow, kBeamHigh, colour::beam);
    backWallRect(c, kLeftX, kFarRight, kBeamLow, kBeamLow + 0.08, colour::beamDark);
    c.line(project({kLeftX, kBeamHigh, kBackZ}), project({kFarRight, kBeamHigh, kBackZ}), 1, colour::outline);
    c.line(project({kLeftX, kBeamLow, kBackZ}), project({kFarRight, kBeamLow, kBackZ}), 1, colour::outline);

    // Left wall: cut away at lintel height like a model's wall, plain
    // plaster between posts, with an open doorway at the front onto a
    // corridor.
    constexpr double doorNear = 8.4, doorFar = 10.75;
    const double corridorX = kLeftX - 1.6;
    quad(c, {kLeftX, 0, doorNear}, {kLeftX, 0, doorFar}, {kLeftX, kCutLow, doorFar}, {kLeftX, kCutLow, doorNear},
         colour::corridorWall);
    quad(c, {kLeftX, 0, doorNear - 3}, {kLeftX, 0, doorFar}, {corridorX, 0, doorFar}, {corridorX, 0, doorNear - 3},
         colour::corridorFloor);
    for (double x = kLeftX - 0.35; x > corridorX; x -= 0.35)
        c.line(project({x, 0, doorFar}), project({x, 0, doorNear - 3}), 1, colour::corridorBoard);
    quad(c, {corridorX, 0, doorNear - 3}, {corridorX, 0, doorFar}, {corridorX, kCutLow, doorFar},
         {corridorX, kCutLow, doorNear - 3}, colour::corridorWall);
    quad(c, {corridorX, 0, doorNear - 3}, {corridorX, 0, doorFar}, {corridorX, 0.1, doorFar},
         {corridorX, 0.1, doorNear - 3}, colour::sill);
    leftWallRect(c, doorFar, kBackZ, 0, kSillTop, colour::sill);
    leftWallRect(c, kNearZ, doorNear, 0, kSillTop, colour::sill);
    leftWallRect(c, kNearZ, kBackZ, kCutLow, kCutHigh, colour::beam);
    leftWallRect(c, kNearZ, kBackZ, kCutLow, kCutLow + 0.05, colour::beamDark);
    c.line(project({kLeftX, kCutHigh, kBackZ}), project({kLeftX, kCutHigh, kNearZ}), 1, colour::outline);

    // Posts: the back corner, the bays of the back wall, the door jambs.
    for (double x = -3.95; x < 16; x += 3.85)
        backPost(c, x, kBeamHigh);
    for (double z : {doorNear - 0.3, doorFar, 13.0, 17.2})
        leftPost(c, z, kCutLow);
    quad(c, {kLeftX, 0, kBackZ}, {kLeftX + 0.3, 0, kBackZ}, {kLeftX + 0.3, kWallTop, kBackZ},
         {kLeftX, kWallTop, kBackZ}, colour::beam);
    c.line(project({kLeftX + 0.3, 0, kBackZ}), project({kLeftX + 0.3, kWallTop, kBackZ}), 1, colour::outline);
}

void drawFloor(Canvas& c)
{
    floorRect(c, kLeftX, kFarRight, kNearZ, kBackZ, colour::mat);
    constexpr double rowDepth = 0.95, matLength = 1.9;
    int row = 0;
    for (double z1 = kBackZ; z1 > kNearZ; z1 -= rowDepth, ++row) {
        const double z0 = z1 - rowDepth;
        // Faint weave along each mat, every other pixel row.
        const int yTop = int(std::ceil(project({0, 0, z1}).y()));
        const int yBottom = int(std::floor(project({0, 0, z0}).y()));
        for (int y = yTop + 1; y < yBottom; y += 2) {
            const double z = kFocal * kEye / (y + 0.5 - kVy);
            const Pt l = project({kLeftX, 0, z});
            c.fillRect(int(std::ceil(l.x())), y, kWidth, y + 1, colour::matStripe);
        }
        // Staggered joints between the short ends of neighbouring mats.
        const double offset = (row % 2) ? matLength / 2 : 0;
        for (double x = kLeftX + offset + matLength; x < kFarRight; x += matLength)
            c.line(project({x, 0, z0}), project({x, 0, z1}), 1, colour::matJoint);
        // The long edges carry the green cloth borders.
        const double b = 0.055;
        floorRect(c, kLeftX, kFarRight, z1 - b, z1 + b, colour::border);
        floorRect(c, kLeftX, kFarRight, z1 - b * 0.2, z1 + b, colour::borderDark);
    }
}

void drawScreen(Canvas& c)
{
    // A low folding screen at the back right; the second peeker rises behind
    // its top edge, which lies at y = 88.
    const double z = 16.15, top = 1.0;
    const double xs[] = {8.9, 9.95, 11.0, 12.05, 13.1};
    for (int i = 0; i < 4; ++i) {
        const double za = z + ((i % 2) ? 0.35 : 0.0), zb = z + ((i % 2) ? 0.0 : 0.35);
        const Rgb face = (i % 2) ? colour::screenShade : colour::screenPanel;
        quad(c, {xs[i], 0, za}, {xs[i + 1], 0, zb}, {xs[i + 1], top, zb}, {xs[i], top, za}, face);
        // A sprig of pine on each panel.
        const double xm = (xs[i] + xs[i + 1]) / 2, zm = (za + zb) / 2;
        const Pt p = project({xm, top * 0.55, zm});
        c.fillEllipse(p.x(), p.y(), 3.5, 1.6, colour::screenPine);
        c.fillEllipse(p.x() + 2, p.y() - 2, 2.5, 1.2, colour::screenPine);
        c.line(project({xm - 0.2, top * 0.3, zm}), p, 1, colour::sill);
    }
    for (int i = 0; i <= 4; ++i) {
        const double zz = z + ((i % 2) ? 0.0 : 0.35);
        c.line(project({xs[i], 0, zz}), project({xs[i], top, zz}), 1.4, colour::beam);
    }
    for (int i = 0; i < 4; ++i) {
        const double za = z + ((i % 2) ? 0.35 : 0.0), zb = z + ((i % 2) ? 0.0 : 0.35);
        c.line(project({xs[i], top, za}), project({xs[i + 1], top, zb}), 1.6, colour::beam);
        c.line(project({xs[i], 0, za}), project({xs[i + 1], 0, zb}), 1, colour::outline);
    }
}

void candle(Canvas& c, World base)
{
    // An iron candlestick with a white candle and its flame.
    const Pt foot = project(base);
    const double s = scaleAt(base.z);
    const int x = int(std::round(foot.x()));
    const int yFoot = int(std::round(foot.y()));
    const int stem = int(std::round(0.55 * s));
    const int wick = int(std::round(0.30 * s));
    c.fillRect(x - 3, yFoot - 1, x + 4, yFoot + 1, colour::iron);
    c.fillRect(x, yFoot - stem, x + 1, yFoot - 1, colour::iron);
    c.fillRect(x - 2, yFoot - stem - 1, x + 3, yFoot - stem + 1, colour::iron);
    const int yTop = yFoot - stem - 1 - wick;
    c.fillRect(x - 1, yTop, x + 2, yFoot - stem - 1, colour::wax);
    c.fillRect(x + 1, yTop, x + 2, yFoot - stem - 1, colour::waxShade);
    c.fillEllipse(x + 0.5, yTop - 4.0, 3.6, 5.2, colour::glow);
    c.fillEllipse(x + 0.5, yTop - 3.5, 1.9, 3.4, colour::flameOuter);
    c.fillEllipse(x + 0.5, yTop - 2.8, 0.9, 1.9, colour::flameInner);
    c.set(x, yTop - 1, colour::outline);
}

void drawTable(Canvas& c)
{
    // A long low table on the left with two candles and a green sake flask.
    const double x0 = -6.9, x1 = -3.9, z0 = 12.0, z1 = 13.1;
    const double h = 0.42, t = 0.09;
    floorRect(c, x0 - 0.1, x1 + 0.35, z0 - 0.1, z1, colour::shadow);
    for (double x : {x0 + 0.12, x1 - 0.25})
        for (double z : {z0 + 0.1, z1 - 0.2}) {
            quad(c, {x, 0, z}, {x + 0.13, 0, z}, {x + 0.13, h, z}, {x, h, z}, colour::tableLeg);
        }
    quad(c, {x0, h - t, z0}, {x1, h - t, z0}, {x1, h, z0}, {x0, h, z0}, colour::tableFront);
    quad(c, {x1, h - t, z0}, {x1, h - t, z1}, {x1, h, z1}, {x1, h, z0}, colour::tableLeg);
    quad(c, {x0, h, z0}, {x1, h, z0}, {x1, h, z1}, {x0, h, z1}, colour::tableTop);
    c.fillPolygon({project({x0, h, z0}), project({x1, h, z0}), project({x1, h, z1}), project({x0, h, z1})},
                  colour::tableTop);
    c.line(project({x0, h, z1}), project({x1, h, z1}), 1, colour::outline);
    c.line(project({x0, h, z0}), project({x0, h, z1}), 1, colour::outline);
    c.line(project({x1, h, z0}), project({x1, h, z1}), 1, colour::outline);
    c.line(project({x0, h - t, z0}), project({x1, h - t, z0}), 1, colour::outline);
    c.line(project({x0, h - t, z0}), project({x0, h, z0}), 1, colour::outline);

    candle(c, {x0 + 0.45, h, 12.55});
    candle(c, {x1 - 0.45, h, 12.55});

    // The flask: round belly, narrow neck, a glint on its left shoulder.
    const Pt f = project({(x0 + x1) / 2, h, 12.5});
    const double fx = std::round(f.x()) + 0.5, fy = std::round(f.y());
    c.fillEllipse(fx, fy - 4.5, 4.6, 4.6, colour::outline);
    c.fillRect(int(fx) - 2, int(fy) - 13, int(fx) + 3, int(fy) - 7, colour::outline);
    c.fillEllipse(fx, fy - 4.5, 3.6, 3.6, colour::flask);
    c.fillRect(int(fx) - 1, int(fy) - 12, int(fx) + 2, int(fy) - 7, colour::flask);
    c.fillRect(int(fx) + 1, int(fy) - 12, int(fx) + 2, int(fy) - 7, colour::flaskDark);
    c.fillEllipse(fx + 1.5, fy - 3.5, 1.8, 2.5, colour::flaskDark);
    c.set(int(fx) - 2, int(fy) - 6, colour::flaskLight);
    c.set(int(fx) - 1, int(fy) - 7, colour::flaskLight);
    c.fillRect(int(fx) - 2, int(fy) - 13, int(fx) + 3, int(fy) - 12, colour::flaskDark);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output.bmp>\n", argv[0]);
        return 2;
    }
    Canvas c(kWidth, kHeight, colour::outside);
    drawWalls(c);
    drawFloor(c);
    drawScreen(c);
    drawTable(c);
    if (!c.save(argv[1])) {
        std::fprintf(stderr, "make_room: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}

// Draws the digit picture: one row of eleven Nixie tubes, 336 x 549 pixels each,
// lit with the digits 0 to 9 and, last, unlit.
//
//     make_nixies OUTPUT.jpg
#include <QCoreApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QTransform>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

constexpr int cellWidth = 336;
constexpr int cellHeight = 549;
constexpr int cellCount = 11;
constexpr int blankCell = 10;

// The tube's outline, in cell pixels.
constexpr double glassLeft = 36, glassRight = 300, glassTop = 16, glassBottom = 500;
// The box the digits are bent into, in cell pixels.
constexpr double digitLeft = 98, digitTop = 132, digitWidth = 140, digitHeight = 240;
// The mesh anode around the cathode stack.
const QRectF anodeBox(70, 104, 196, 300);

// The centre line of each cathode's wire, in a box 120 wide and 200 high.
QPainterPath DigitWire(int digit)
{
    QPainterPath p;
    switch (digit) {
    case 0:
        p.addRoundedRect(QRectF(8, 3, 104, 194), 52, 64);
        break;
    case 1:
        p.moveTo(36, 30);
        p.lineTo(64, 3);
        p.lineTo(64, 197);
        break;
    case 2:
        p.moveTo(9, 52);
        p.cubicTo(9, 20, 33, 3, 61, 3);
        p.cubicTo(91, 3, 112, 22, 112, 53);
        p.cubicTo(112, 94, 58, 124, 8, 197);
        p.lineTo(114, 197);
        break;
    case 3:
        p.moveTo(12, 3);
        p.lineTo(108, 3);
        p.lineTo(54, 80);
        p.cubicTo(92, 76, 114, 102, 114, 138);
        p.cubicTo(114, 174, 90, 197, 60, 197);
        p.cubicTo(34, 197, 14, 184, 7, 162);
        break;
    case 4:
        p.moveTo(88, 197);
        p.lineTo(88, 3);
        p.lineTo(5, 140);
        p.lineTo(116, 140);
        break;
    case 5:
        p.moveTo(106, 3);
        p.lineTo(22, 3);
        p.lineTo(13, 90);
        p.cubicTo(28, 78, 44, 73, 62, 73);
        p.cubicTo(94, 73, 114, 98, 114, 135);
        p.cubicTo(114, 173, 90, 197, 58, 197);
        p.cubicTo(34, 197, 15, 186, 7, 164);
        break;
    case 6:
    case 9:
        p.moveTo(98, 16);
        p.cubicTo(88, 7, 76, 3, 63, 3);
        p.cubicTo(28, 3, 8, 44, 8, 114);
        p.cubicTo(8, 166, 30, 197, 61, 197);
        p.cubicTo(92, 197, 113, 172, 113, 138);
        p.cubicTo(113, 104, 92, 80, 61, 80);
        p.cubicTo(35, 80, 15, 98, 9, 124);
        if (digit == 9)
            p = QTransform(-1, 0, 0, -1, 120, 200).map(p);
        break;
    case 7:
        p.moveTo(7, 3);
        p.lineTo(114, 3);
        p.cubicTo(84, 56, 56, 118, 44, 197);
        break;
    case 8:
        p.addEllipse(QPointF(60, 50), 43, 47);
        p.addEllipse(QPointF(60, 147), 53, 50);
        break;
    }
    return QTransform::fromTranslate(digitLeft, digitTop).scale(digitWidth / 120, digitHeight / 200).map(p);
}

// Front to back, as the cathodes are stacked in the tube.
constexpr std::array<int, 10> stackOrder { 1, 6, 2, 7, 5, 0, 4, 9, 8, 3 };

QImage Layer()
{
    QImage image(cellWidth, cellHeight, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

// Three box blurs in a row come close to a Gaussian of the same reach.
void Blur(QImage& image, int radius)
{
    if (radius < 1)
        return;
    const int w = image.width(), h = image.height();
    std::vector<std::array<int, 4>> line(static_cast<std::size_t>(std::max(w, h)));
    auto pass = [&](int count, int length, auto pixel) {
        for (int i = 0; i < count; ++i) {
            for (int j = 0; j < length; ++j) {
                const QRgb c = *pixel(i, j);
                line[static_cast<std::size_t>(j)] = { qRed(c), qGreen(c), qBlue(c), qAlpha(c) };
            }
            auto at = [&](int j) -> const std::array<int, 4>& {
                return line[static_cast<std::size_t>(std::clamp(j, 0, length - 1))];
            };
            std::array<int, 4> sum {};
            for (int j = -radius; j <= radius; ++j)
                for (std::size_t k = 0; k < 4; ++k)
                    sum[k] += at(j)[k];
            const int n = 2 * radius + 1;
            for (int j = 0; j < length; ++j) {
                *pixel(i, j) = qRgba(sum[0] / n, sum[1] / n, sum[2] / n, sum[3] / n);
                for (std::size_t k = 0; k < 4; ++k)
                    sum[k] += at(j + radius + 1)[k] - at(j - radius)[k];
            }
        }
    };
    for (int round = 0; round < 3; ++round) {
        pass(h, w, [&](int y, int x) { return reinterpret_cast<QRgb*>(image.scanLine(y)) + x; });
        pass(w, h, [&](int x, int y) { return reinterpret_cast<QRgb*>(image.scanLine(y)) + x; });
    }
}

// A stroke of the wire, blurred and added as light.
void AddLight(QPainter& cell, const QPainterPath& wire, double width, QColor color, int blur)
{
    QImage layer = Layer();
    {
        QPainter p(&layer);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPath(wire);
    }
    Blur(layer, blur);
    cell.setCompositionMode(QPainter::CompositionMode_Plus);
    cell.drawImage(0, 0, layer);
    cell.setCompositionMode(QPainter::CompositionMode_SourceOver);
}

QPainterPath GlassOutline()
{
    QPainterPath p;
    const double r = (glassRight - glassLeft) / 2;
    p.moveTo(glassLeft, glassBottom);
    p.lineTo(glassLeft, glassTop + r * 0.62);
    p.cubicTo(glassLeft, glassTop + 6, glassLeft + r * 0.45, glassTop, glassLeft + r, glassTop);
    p.cubicTo(glassRight - r * 0.45, glassTop, glassRight, glassTop + 6, glassRight, glassTop + r * 0.62);
    p.lineTo(glassRight, glassBottom);
    p.closeSubpath();
    return p;
}

// Hexagons of the given pitch over the box.
QPainterPath Mesh(const QRectF& box, double pitch)
{
    QPainterPath p;
    const double side = pitch / std::sqrt(3.0);
    const double rowStep = side * 1.5;
    int row = 0;
    for (double y = box.top(); y < box.bottom() + side; y += rowStep, ++row) {
        const double shift = (row % 2) ? pitch / 2 : 0;
        for (double x = box.left() - pitch + shift; x < box.right() + pitch; x += pitch) {
            QPolygonF hex;
            for (int k = 0; k < 6; ++k) {
                const double a = (60.0 * k + 30.0) * M_PI / 180.0;
                hex << QPointF(x + side * std::cos(a), y + side * std::sin(a));
            }
            hex << hex.first();
            p.addPolygon(hex);
        }
    }
    return p;
}

void DrawBody(QPainter& p, const QPainterPath& glass)
{
    // The board and the socket the tube stands in.
    p.fillRect(QRectF(0, 0, cellWidth, cellHeight), QColor(6, 5, 5));
    QLinearGradient socket(0, 488, 0, cellHeight);
    socket.setColorAt(0, QColor(28, 25, 24));
    socket.setColorAt(1, QColor(10, 9, 9));
    p.fillRect(QRectF(24, 488, cellWidth - 48, cellHeight - 488), socket);

    // The glass: nearly black, a little warm where it is thickest at the edges.
    QLinearGradient body(glassLeft, 0, glassRight, 0);
    body.setColorAt(0.0, QColor(34, 30, 30));
    body.setColorAt(0.08, QColor(15, 13, 13));
    body.setColorAt(0.5, QColor(10, 9, 9));
    body.setColorAt(0.92, QColor(15, 13, 13));
    body.setColorAt(1.0, QColor(30, 27, 27));
    p.fillPath(glass, body);

    // Mica spacers above and below the stack, and the rods that hold them.
    p.setPen(Qt::NoPen);
    for (double y : { anodeBox.top() - 18, anodeBox.bottom() + 8 }) {
        QLinearGradient mica(0, y, 0, y + 10);
        mica.setColorAt(0, QColor(74, 70, 66));
        mica.setColorAt(0.5, QColor(112, 106, 98));
        mica.setColorAt(1, QColor(48, 45, 42));
        p.setBrush(mica);
        p.drawRoundedRect(QRectF(58, y, 220, 10), 3, 3);
    }
    for (double x : { anodeBox.left() - 2, anodeBox.right() - 2 }) {
        QLinearGradient rod(x, 0, x + 5, 0);
        rod.setColorAt(0, QColor(40, 38, 36));
        rod.setColorAt(0.5, QColor(96, 92, 88));
        rod.setColorAt(1, QColor(36, 34, 32));
        p.setBrush(rod);
        p.drawRect(QRectF(x, anodeBox.top() - 26, 5, anodeBox.height() + 52));
    }

    // The lead wires from the stack down through the glass to the pins.
    p.setRenderHint(QPainter::Antialiasing);
    QPen lead(QColor(70, 66, 62), 2.2);
    p.setPen(lead);
    for (int i = 0; i < 11; ++i) {
        const double top = anodeBox.left() + 14 + i * (anodeBox.width() - 28) / 10;
        const double pin = 62 + i * (cellWidth - 124) / 10.0;
        p.drawLine(QPointF(top, anodeBox.bottom() + 18), QPointF(pin, glassBottom - 4));
    }
    // The pressed glass foot the leads go through.
    QLinearGradient foot(0, glassBottom - 22, 0, glassBottom);
    foot.setColorAt(0, QColor(20, 18, 18, 0));
    foot.setColorAt(1, QColor(44, 40, 38, 220));
    p.fillRect(QRectF(glassLeft + 2, glassBottom - 22, glassRight - glassLeft - 4, 22), foot);
}

void DrawCathodes(QPainter& p, int lit)
{
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(Qt::NoBrush);
    // Back to front, so that nearer wires cross over farther ones.
    for (auto it = stackOrder.rbegin(); it != stackOrder.rend(); ++it) {
        if (*it == lit)
            continue;
        const QPainterPath wire = DigitWire(*it);
        p.setPen(QPen(QColor(52, 47, 43), 5.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPath(wire);
        p.setPen(QPen(QColor(84, 78, 72), 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPath(wire.translated(-0.8, -0.8));
    }
}

void DrawGlow(QPainter& p, int digit)
{
    const QPainterPath wire = DigitWire(digit);
    // The discharge lights the whole stack a little.
    QRadialGradient ambient(anodeBox.center(), 190);
    ambient.setColorAt(0, QColor(54, 16, 2));
    ambient.setColorAt(0.6, QColor(20, 6, 1));
    ambient.setColorAt(1, QColor(0, 0, 0));
    p.setCompositionMode(QPainter::CompositionMode_Plus);
    p.fillRect(QRectF(glassLeft, glassTop, glassRight - glassLeft, glassBottom - glassTop), ambient);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);

    AddLight(p, wire, 30, QColor(150, 38, 2), 20);
    AddLight(p, wire, 15, QColor(210, 70, 8), 7);
    AddLight(p, wire, 8, QColor(255, 110, 30), 2);
    AddLight(p, wire, 3.5, QColor(255, 170, 100), 1);
}

void DrawMesh(QPainter& p, bool lit)
{
    const QPainterPath mesh = Mesh(anodeBox, 8);
    p.save();
    p.setClipRect(anodeBox);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(Qt::NoBrush);
    // The wires block the light behind them, and catch a little of the glow themselves.
    p.setPen(QPen(QColor(0, 0, 0, 96), 1.1));
    p.drawPath(mesh);
    p.setPen(QPen(lit ? QColor(120, 60, 30, 40) : QColor(90, 88, 86, 40), 0.8));
    p.drawPath(mesh.translated(0.6, 0.6));
    p.restore();

    // The anode's frame.
    p.setPen(QPen(QColor(58, 55, 52), 2.0));
    p.setBrush(Qt::NoBrush);
    p.drawRect(anodeBox);
}

void DrawReflections(QPainter& p, const QPainterPath& glass)
{
    p.save();
    p.setClipPath(glass);
    p.setPen(Qt::NoPen);
    auto streak = [&](double x, double width, int alpha) {
        QLinearGradient across(x, 0, x + width, 0);
        across.setColorAt(0, QColor(255, 255, 255, 0));
        across.setColorAt(0.5, QColor(235, 240, 255, alpha));
        across.setColorAt(1, QColor(255, 255, 255, 0));
        p.setBrush(across);
        p.drawRoundedRect(QRectF(x, glassTop + 40, width, glassBottom - glassTop - 80), width / 2, 30);
    };
    streak(48, 16, 52);
    streak(68, 5, 26);
    streak(276, 10, 34);
    p.restore();

    // The dome catches the light along its curve.
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient arc(glassLeft + 10, 0, glassLeft + 150, 0);
    arc.setColorAt(0, QColor(235, 240, 255, 0));
    arc.setColorAt(0.35, QColor(235, 240, 255, 70));
    arc.setColorAt(1, QColor(235, 240, 255, 0));
    QPainterPath curve;
    curve.moveTo(glassLeft + 12, glassTop + 70);
    curve.cubicTo(
        glassLeft + 14, glassTop + 28, glassLeft + 60, glassTop + 12, glassLeft + 150, glassTop + 12);
    p.setPen(QPen(QBrush(arc), 5, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(curve);

    // The exhaust tip on top, and the rim of the glass.
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(36, 34, 34));
    p.setPen(QPen(QColor(70, 68, 70), 1.2));
    p.drawRoundedRect(QRectF(cellWidth / 2.0 - 7, glassTop - 12, 14, 18), 6, 6);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(80, 78, 82, 150), 2.0));
    p.drawPath(glass);
}

QImage Cell(int digit)
{
    QImage cell(cellWidth, cellHeight, QImage::Format_ARGB32_Premultiplied);
    QPainter p(&cell);
    const QPainterPath glass = GlassOutline();
    DrawBody(p, glass);
    DrawCathodes(p, digit);
    if (digit != blankCell)
        DrawGlow(p, digit);
    DrawMesh(p, digit != blankCell);
    DrawReflections(p, glass);
    return cell;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_nixies OUTPUT.jpg\n");
        return 2;
    }
    QImage strip(cellWidth * cellCount, cellHeight, QImage::Format_RGB32);
    QPainter p(&strip);
    for (int k = 0; k < cellCount; ++k)
        p.drawImage(k * cellWidth, 0, Cell(k));
    p.end();
    if (!strip.save(QString::fromLocal8Bit(argv[1]), "JPEG", 92)) {
        std::fprintf(stderr, "make_nixies: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}

#include "framework/drawing.h"

#include "framework/application.h"

#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QTransform>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace fw {

namespace {

// A damaged file is not reported, and a missing picture is tried again at every
// paint, so the image reader's complaints about it are dropped while it decodes.
class QuietImageReading {
public:
    QuietImageReading() { previous = qInstallMessageHandler(&Filter); }
    ~QuietImageReading() { qInstallMessageHandler(previous); }
    QuietImageReading(const QuietImageReading&) = delete;
    QuietImageReading& operator=(const QuietImageReading&) = delete;

private:
    static void Filter(QtMsgType type, const QMessageLogContext& context, const QString& message)
    {
        if (context.category && std::string_view(context.category).starts_with("qt.gui.imageio"))
            return;
        previous(type, context, message);
    }
    static inline QtMessageHandler previous = nullptr;
};

// What the shrunk pictures of one Picture may hold together: a few hundred tube
// cells. Beyond it the least recently drawn are let go, and shrunk again if drawn.
constexpr qsizetype shrunkBudget = 2 << 20;

// What one target pixel of a shrink covers along one axis: the first source pixel,
// and how much of it and of each one after it, as shares of the whole.
struct Span {
    int first = 0;
    std::vector<double> shares;
};

// Target pixel i covers [start + i * step, start + (i + 1) * step) of source pixels
// 0 to limit - 1; a pixel only partly inside counts for the part it covers.
std::vector<Span> Spans(double start, double step, int count, int limit)
{
    std::vector<Span> spans(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const double from = std::max(0.0, start + i * step),
                     to = std::min(double(limit), start + (i + 1) * step);
        Span& span = spans[static_cast<std::size_t>(i)];
        span.first = std::min(limit - 1, int(std::floor(from)));
        double total = 0;
        for (int p = span.first; p < limit && p < to; ++p) {
            const double share = std::min(to, p + 1.0) - std::max(from, double(p));
            span.shares.push_back(share);
            total += share;
        }
        if (total <= 0)
            span.shares.assign(1, 1.0);
        else
            for (double& share : span.shares)
                share /= total;
    }
    return spans;
}

// Shrinks the fractional `region` of the image to `to` pixels, each the average of the
// area it covers, as QImage::scaled does for whole pixels.
QImage AreaAverage(const QImage& decoded, const QRectF& region, const QSize& to)
{
    if (decoded.isNull())
        return QImage();
    const QImage source = decoded.convertToFormat(QImage::Format_RGB32);
    const std::vector<Span> columns
        = Spans(region.left(), region.width() / to.width(), to.width(), source.width());
    const std::vector<Span> rows
        = Spans(region.top(), region.height() / to.height(), to.height(), source.height());
    QImage image(to, QImage::Format_RGB32);
    if (image.isNull())
        return image;
    std::vector<double> sums(static_cast<std::size_t>(source.width()) * 3);
    for (int y = 0; y < to.height(); ++y) {
        std::fill(sums.begin(), sums.end(), 0.0);
        const Span& row = rows[static_cast<std::size_t>(y)];
        for (std::size_t k = 0; k < row.shares.size(); ++k) {
            const auto* line = reinterpret_cast<const QRgb*>(source.constScanLine(row.first + int(k)));
            for (int x = 0; x < source.width(); ++x) {
                double* sum = &sums[static_cast<std::size_t>(x) * 3];
                sum[0] += row.shares[k] * qRed(line[x]);
                sum[1] += row.shares[k] * qGreen(line[x]);
                sum[2] += row.shares[k] * qBlue(line[x]);
            }
        }
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < to.width(); ++x) {
            const Span& column = columns[static_cast<std::size_t>(x)];
            double r = 0, g = 0, b = 0;
            for (std::size_t k = 0; k < column.shares.size(); ++k) {
                const double* sum = &sums[(static_cast<std::size_t>(column.first) + k) * 3];
                r += column.shares[k] * sum[0];
                g += column.shares[k] * sum[1];
                b += column.shares[k] * sum[2];
            }
            out[x] = qRgb(qBound(0, qRound(r), 255), qBound(0, qRound(g), 255), qBound(0, qRound(b), 255));
        }
    }
    return image;
}

// The rectangle grown outwards to multiples of `scale`.
QRect Aligned(const QRect& pixels, int scale)
{
    const int left = pixels.left() / scale * scale, top = pixels.top() / scale * scale;
    const int right = (pixels.left() + pixels.width() + scale - 1) / scale * scale;
    const int bottom = (pixels.top() + pixels.height() + scale - 1) / scale * scale;
    return QRect(left, top, right - left, bottom - top);
}

} // namespace

// The picture holds its file open, not its pixels: a draw decodes only the part of
// the source it needs and keeps that only once shrunk, which a repaint at the same
// size then draws as it is. The open file reads as it was opened after it has been
// removed or replaced; one rewritten in place draws what it holds now.
struct Picture::Impl {
    QFile file;
    QByteArray format;
    QSize size { 0, 0 };
    Integer decodes = 0;

    struct Shrunk {
        QRect source;
        QSize size;
        QImage image;
    };
    std::vector<Shrunk> shrunk; // the most recently drawn last

    bool Open();
    int DecoderScale(const QRect& pixels, const QSize& to) const;
    QImage Decode(const QRect& pixels, int scale = 1);
    const QImage& ShrunkTo(const QRect& pixels, const QSize& size);
};

bool Picture::Impl::Open()
{
    QImage::Format decoded = QImage::Format_Invalid;
    {
        QuietImageReading quiet;
        QImageReader reader(&file);
        format = reader.format();
        size = reader.size();
        decoded = reader.imageFormat();
    }
    if (format.isEmpty())
        return false;
    if (!size.isValid()) {
        // A format that tells its size only by decoding.
        const QImage image = Decode(QRect());
        size = image.size();
        return !image.isNull();
    }
    // Decoded whole, a picture beyond the reader's limit is refused; a clipped
    // decode would not notice, nor a header that lies about the size.
    const qint64 depth
        = decoded == QImage::Format_Invalid ? 32 : QImage::toPixelFormat(decoded).bitsPerPixel();
    const qint64 limit = qint64(QImageReader::allocationLimit()) << 20;
    if (size.isEmpty() || (limit > 0 && qint64(size.width()) * size.height() * depth / 8 > limit))
        return false;
    // A damaged file opens if a whole decode of it gives pixels. Clipped to its
    // last pixel, the decoder still reads all of the file but keeps only a row, and
    // a JPEG decoder shrinking by eight computes little more than a block's mean.
    const QRect last(size.width() - 1, size.height() - 1, 1, 1);
    const int scale = DecoderScale(Aligned(last, 8), QSize(1, 1));
    return !Decode(Aligned(last, scale), scale).isNull();
}

// By how much the decoder itself may shrink `pixels` on their way to `to` pixels:
// a JPEG decoder shrinks by 2, 4 or 8 for little more work than the shrunk pixels,
// so the whole ones are never held. It shrinks no further than `to`, so that the
// averaging that follows still sees every part of the source.
int Picture::Impl::DecoderScale(const QRect& pixels, const QSize& to) const
{
    if (format != "jpeg")
        return 1;
    for (int scale : { 8, 4, 2 })
        if (pixels.width() >= to.width() * scale && pixels.height() >= to.height() * scale)
            return scale;
    return 1;
}

// Decodes the pixels of the file within `pixels`, or all of them for a null rectangle,
// shrunk by `scale`, which must divide the rectangle's edges.
QImage Picture::Impl::Decode(const QRect& pixels, int scale)
{
    QuietImageReading quiet;
    if (!file.seek(0))
        return QImage();
    QImageReader reader(&file, format);
    if (!pixels.isNull() && pixels != QRect(QPoint(0, 0), size))
        reader.setClipRect(pixels);
    if (scale > 1)
        reader.setScaledSize(pixels.size() / scale);
    return reader.read();
}

const QImage& Picture::Impl::ShrunkTo(const QRect& pixels, const QSize& to)
{
    auto found
        = std::find_if(shrunk.begin(), shrunk.end(), [&](const Shrunk& s) { return s.source == pixels; });
    if (found != shrunk.end()) {
        if (found->size == to) {
            std::rotate(found, found + 1, shrunk.end());
            return shrunk.back().image;
        }
        // Drawn at another size now, so nothing needs the old one.
        shrunk.erase(found);
    }
    // The painter's smooth filter reads only a few source pixels per device pixel,
    // so fine detail would alias when shrunk; averaging over the area keeps it.
    ++decodes;
    QImage image;
    if (const int scale = DecoderScale(pixels, to); scale > 1) {
        const QRect aligned = Aligned(pixels, scale);
        const QRectF region(
            QPointF(pixels.topLeft() - aligned.topLeft()) / scale, QSizeF(pixels.size()) / scale);
        image = AreaAverage(Decode(aligned, scale), region, to);
    } else {
        image = Decode(pixels).scaled(to, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    if (image.isNull()) {
        static const QImage none;
        return none;
    }
    shrunk.push_back({ pixels, to, std::move(image) });
    qsizetype held = 0;
    for (const Shrunk& s : shrunk)
        held += s.image.sizeInBytes();
    while (held > shrunkBudget && shrunk.size() > 1) {
        held -= shrunk.front().image.sizeInBytes();
        shrunk.erase(shrunk.begin());
    }
    return shrunk.back().image;
}

const ClassInfo& Picture::Lookup()
{
    static const ClassInfo& info = RegisterClass(ClassBuilder("Picture", &Object::Lookup()).Build());
    return info;
}

Picture::Picture()
    : impl_(std::make_unique<Impl>())
{
}
Picture::~Picture() = default;

Integer Picture::Width() const
{
    return impl_->size.width();
}

Integer Picture::Height() const
{
    return impl_->size.height();
}

Integer Picture::Decodes() const
{
    return impl_->decodes;
}

Ref<Picture> Picture::OpenFromApp(const String& fileName)
{
    // A file name, not a path: nothing outside the Resources folder can be reached.
    const std::string& name = fileName.ToStdString();
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
        return Ref<Picture>();
    const std::string folder = ApplicationResourcesPath();
    if (folder.empty())
        return Ref<Picture>();
    auto picture = New<Picture>();
    QFile& file = picture->impl_->file;
    // Regular files only, opened without waiting: a FIFO in the picture's place would
    // hold the open until something wrote to it.
    const std::string path = folder + "/" + name;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return Ref<Picture>();
    struct stat info { };
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)
        || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return Ref<Picture>();
    }
    if (!picture->impl_->Open())
        return Ref<Picture>();
    return picture;
}

Graphics::Graphics(QPainter* painter, Integer width, Integer height)
    : painter_(painter)
    , width_(width)
    , height_(height)
{
}

void Graphics::DrawPicture(const Ref<Picture>& picture, Double left, Double top, Double width, Double height,
    Double sourceLeft, Double sourceTop, Double sourceWidth, Double sourceHeight)
{
    Picture::Impl& data = picture->Data();
    for (Double v : { left, top, width, height, sourceLeft, sourceTop, sourceWidth, sourceHeight })
        if (!std::isfinite(v))
            return;
    if (width <= 0 || height <= 0 || sourceWidth <= 0 || sourceHeight <= 0)
        return;

    // Only the part of the source that lies on the picture is drawn, where it would
    // have landed had the whole source been there.
    const QRectF inside
        = QRectF(sourceLeft, sourceTop, sourceWidth, sourceHeight) & QRectF(QPointF(0, 0), QSizeF(data.size));
    if (inside.isEmpty())
        return;
    const Double sx = width / sourceWidth, sy = height / sourceHeight;
    const QRectF target(left + (inside.left() - sourceLeft) * sx, top + (inside.top() - sourceTop) * sy,
        inside.width() * sx, inside.height() * sy);

    painter_->save();
    painter_->setRenderHint(QPainter::SmoothPixmapTransform);
    const QTransform& device = painter_->deviceTransform();
    const QRect pixels = inside.toAlignedRect();
    const QSizeF onDevice = device.mapRect(target).size();
    const QSize shrunk(std::max(1, qRound(onDevice.width())), std::max(1, qRound(onDevice.height())));
    if (QRectF(pixels) == inside && device.type() <= QTransform::TxScale
        && (shrunk.width() < pixels.width() || shrunk.height() < pixels.height())) {
        const QImage& scaled = data.ShrunkTo(pixels, shrunk);
        if (!scaled.isNull())
            painter_->drawImage(target, scaled);
    } else {
        // The painter reads no pixel outside the aligned source, so that is all it needs.
        ++data.decodes;
        const QImage part = data.Decode(pixels);
        if (!part.isNull())
            painter_->drawImage(target, part, inside.translated(-QPointF(pixels.topLeft())));
    }
    painter_->restore();
}

} // namespace fw

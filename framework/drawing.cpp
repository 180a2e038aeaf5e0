#include "framework/drawing.h"

#include "framework/application.h"

#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QTransform>

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <string>
#include <string_view>

namespace fw {

struct Picture::Impl {
    QImage image;
};

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

} // namespace

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
    return impl_->image.width();
}

Integer Picture::Height() const
{
    return impl_->image.height();
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
    QImage image;
    {
        QuietImageReading quiet;
        image = QImageReader(QString::fromStdString(folder + "/" + name)).read();
    }
    if (image.isNull())
        return Ref<Picture>();
    auto picture = New<Picture>();
    picture->impl_->image = std::move(image);
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
    const QImage& image = picture->Data().image;
    for (Double v : { left, top, width, height, sourceLeft, sourceTop, sourceWidth, sourceHeight })
        if (!std::isfinite(v))
            return;
    if (width <= 0 || height <= 0 || sourceWidth <= 0 || sourceHeight <= 0)
        return;

    // Only the part of the source that lies on the picture is drawn, where it would
    // have landed had the whole source been there.
    const QRectF inside = QRectF(sourceLeft, sourceTop, sourceWidth, sourceHeight) & QRectF(image.rect());
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
        // The painter's smooth filter reads only a few source pixels per device pixel,
        // so fine detail would alias when shrunk; averaging over the area keeps it.
        const QImage scaled
            = image.copy(pixels).scaled(shrunk, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        painter_->drawImage(target, scaled);
    } else {
        painter_->drawImage(target, image, inside);
    }
    painter_->restore();
}

} // namespace fw

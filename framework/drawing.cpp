#include "framework/drawing.h"

#include <QImage>
#include <QPainter>

namespace fw {

struct Picture::Impl {
    QImage image;
};

const ClassInfo& Picture::Lookup()
{
    static const ClassInfo& info = RegisterClass(ClassBuilder("Picture", &Object::Lookup()).Build());
    return info;
}

Picture::Picture() : impl_(std::make_unique<Impl>()) {}
Picture::~Picture() = default;

Integer Picture::Width() const
{
    return impl_->image.width();
}

Integer Picture::Height() const
{
    return impl_->image.height();
}

Ref<Picture> Picture::OpenFromApp(const String& /*fileName*/)
{
    // pending: the pictures issue opens the file from the Resources folder.
    return Ref<Picture>();
}

Graphics::Graphics(QPainter* painter, Integer width, Integer height)
    : painter_(painter), width_(width), height_(height)
{
}

void Graphics::DrawPicture(const Ref<Picture>& /*picture*/, Double, Double, Double, Double, Double,
                           Double, Double, Double)
{
    // pending: the pictures issue draws the source rectangle scaled on the painter.
    (void)painter_;
}

} // namespace fw

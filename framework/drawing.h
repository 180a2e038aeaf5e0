// Pictures and drawing: pictures that ship with the program, and the Graphics
// that a Canvas's Paint event draws into.
#pragma once

#include "framework/runtime.h"

#include <memory>

class QPainter;

namespace fw {

struct Rect {
    Integer left = 0, top = 0, width = 0, height = 0;
};

class Picture : public Object {
    FW_OBJECT(Picture)
public:
    Picture();
    ~Picture() override;
    Integer Width() const;
    Integer Height() const;

    // The picture of that file name in the program's Resources folder; nil when
    // it is missing or cannot be decoded, or when the name is a path. A damaged
    // file is not reported: it gives nil, or what of it could be decoded.
    static Ref<Picture> OpenFromApp(const String& fileName);

    // How many times drawing has decoded pixels of the file. The picture keeps no
    // pixels but what it has shrunk, so tests watch their reuse here.
    Integer Decodes() const;

    struct Impl;
    Impl& Data() const { return *impl_; }

private:
    std::unique_ptr<Impl> impl_;
};

class Graphics {
public:
    Graphics(QPainter* painter, Integer width, Integer height);
    Integer Width() const { return width_; }
    Integer Height() const { return height_; }

    // Draws the source rectangle of the picture scaled, smoothly, into the destination
    // rectangle. Only the part of the source that lies on the picture is drawn; a
    // rectangle that is empty or not finite draws nothing. A nil picture raises
    // NilObjectException.
    void DrawPicture(const Ref<Picture>& picture, Double left, Double top, Double width, Double height,
        Double sourceLeft, Double sourceTop, Double sourceWidth, Double sourceHeight);

private:
    QPainter* painter_;
    Integer width_, height_;
};

} // namespace fw

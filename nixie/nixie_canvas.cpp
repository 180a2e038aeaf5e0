#include "nixie/nixie_canvas.h"

namespace {

// The digit picture is one row of eleven cells of this size: the digits 0 to 9, then the unlit tube.
constexpr fw::Integer cellWidth = 336;
constexpr fw::Integer cellHeight = 549;
constexpr fw::Integer lastCell = 10;

} // namespace

const fw::ClassInfo& NixieCanvas::Lookup()
{
    static const fw::ClassInfo& info
        = fw::RegisterClass(fw::ClassBuilder("NixieCanvas", &fw::Canvas::Lookup())
                                .Factory<NixieCanvas>()
                                .Op("Event_Paint", { "Graphics", "Rect()" })
                                .Field("value", &NixieCanvas::value)
                                .Hook("Paint",
                                    [](fw::Object& o, fw::EventArgs& args) {
                                        static_cast<NixieCanvas&>(o).Event_Paint(*args.graphics, *args.areas);
                                    })
                                .Build());
    return info;
}

void NixieCanvas::Event_Paint(fw::Graphics& g, const std::vector<fw::Rect>& /*areas*/)
{
    // A value without a cell would read outside the picture.
    if (value < 0 || value > lastCell)
        return;
    const auto sourceLeft = static_cast<fw::Double>(value * cellWidth);
    const fw::Ref<fw::Picture> picture = nixies();
    if (picture)
        g.DrawPicture(picture, 0, 0, 50, 82, sourceLeft, 0, cellWidth, cellHeight);
}

fw::Ref<fw::Picture> nixies()
{
    static fw::Ref<fw::Picture> pic;
    if (!pic)
        pic = fw::Picture::OpenFromApp("nixies.jpg");
    return pic;
}

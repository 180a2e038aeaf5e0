#include "nixie/nixie_canvas.h"

const fw::ClassInfo& NixieCanvas::Lookup()
{
    static const fw::ClassInfo& info = fw::RegisterClass(
        fw::ClassBuilder("NixieCanvas", &fw::Canvas::Lookup())
            .Factory<NixieCanvas>()
            .Op("Event_Paint", {"Graphics", "Rect()"})
            .Field("value", &NixieCanvas::value)
            .Hook("Paint",
                  [](fw::Object& o, fw::EventArgs& args) {
                      static_cast<NixieCanvas&>(o).Event_Paint(*args.graphics, *args.areas);
                  })
            .Build());
    return info;
}

void NixieCanvas::Event_Paint(fw::Graphics& /*g*/, const std::vector<fw::Rect>& /*areas*/)
{
    // pending: the Nixie issue draws the digit's cell.
}

fw::Ref<fw::Picture> nixies()
{
    // pending: the Nixie issue opens the digit picture.
    return fw::Ref<fw::Picture>();
}

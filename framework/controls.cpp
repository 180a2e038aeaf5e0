#include "framework/controls.h"

#include "framework/drawing.h"
#include "framework/window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPaintEvent>
#include <QPainter>
#include <QPointer>
#include <QStyle>
#include <QWheelEvent>

#include <algorithm>

namespace fw {

namespace {

QString ToQString(const String& s)
{
    return QString::fromUtf8(s.Bytes().data(), static_cast<qsizetype>(s.Bytes().size()));
}

int ToInt(Integer v)
{
    return static_cast<int>(std::clamp<Integer>(v, -1'000'000, 1'000'000));
}

class CanvasWidget : public QWidget {
public:
    CanvasWidget(Canvas* owner, QWidget* parent)
        : QWidget(parent)
        , owner_(owner)
    {
    }

protected:
    void paintEvent(QPaintEvent* event) override
    {
        QPainter painter(this);
        const Ref<Window> window = owner_->TrueWindow();
        const double scale = window ? window->Scale() : 1.0;
        // Paint draws in layout units, as the control's stored size is given.
        if (scale != 1.0)
            painter.scale(scale, scale);
        Graphics graphics(&painter, qRound(width() / scale), qRound(height() / scale));
        std::vector<Rect> areas;
        for (const QRect& r : event->region()) {
            const QRect a
                = QRectF(r.x() / scale, r.y() / scale, r.width() / scale, r.height() / scale).toAlignedRect();
            areas.push_back(Rect { a.x(), a.y(), a.width(), a.height() });
        }
        EventArgs args;
        args.graphics = &graphics;
        args.areas = &areas;
        Dispatch([&] { owner_->RaiseEvent("Paint", args); });
    }

private:
    Canvas* owner_;
};

// The largest font, at most `font` itself, at which one line of text lies whole
// inside `room` when aligned as given; `font` when the text fits as it is.
QFont FittingFont(const QString& text, const QFont& font, const QSize& room, Qt::Alignment alignment)
{
    const auto fits = [&](const QFont& f) {
        const QFontMetricsF metrics(f);
        const QRectF ink = metrics.tightBoundingRect(text);
        const qreal width = std::max(metrics.horizontalAdvance(text), ink.right());
        qreal baseline = metrics.ascent();
        if (alignment & Qt::AlignBottom)
            baseline = room.height() - metrics.descent();
        else if (alignment & Qt::AlignVCenter)
            baseline = (room.height() - metrics.height()) / 2 + metrics.ascent();
        return ink.left() >= 0 && width <= room.width() && baseline + ink.top() >= 0
            && baseline + ink.bottom() <= room.height();
    };
    if (text.isEmpty() || fits(font))
        return font;
    const int full = QFontInfo(font).pixelSize();
    const QFontMetricsF metrics(font);
    const qreal wide = std::max(metrics.horizontalAdvance(text), metrics.tightBoundingRect(text).right());
    QFont fitted = font;
    // Text grows nearly in proportion to its size; hinting makes the last pixel a matter of trying.
    int size = std::clamp(static_cast<int>(full * room.width() / std::max<qreal>(wide, 1)), 1, full - 1);
    fitted.setPixelSize(size);
    while (size < full - 1) {
        QFont larger = fitted;
        larger.setPixelSize(size + 1);
        if (!fits(larger))
            break;
        fitted = larger;
        ++size;
    }
    while (size > 1 && !fits(fitted))
        fitted.setPixelSize(--size);
    return fitted;
}

// A single-line label whose text would be cut at an edge draws it whole instead,
// as large as it fits: a count cut to its first digits reads as a smaller number.
class LabelWidget : public QLabel {
public:
    LabelWidget(const QString& text, QWidget* parent)
        : QLabel(text, parent)
    {
    }

protected:
    void paintEvent(QPaintEvent* event) override
    {
        const QRect room = contentsRect();
        const QString shown = text();
        if (wordWrap() || shown.contains(QLatin1Char('\n'))) {
            QLabel::paintEvent(event);
            return;
        }
        const QFont fitted = FittingFont(shown, font(), room.size(), alignment());
        if (fitted == font()) {
            QLabel::paintEvent(event);
            return;
        }
        QPainter painter(this);
        painter.setFont(fitted);
        style()->drawItemText(&painter, room, QStyle::visualAlignment(layoutDirection(), alignment()),
            palette(), isEnabled(), shown, foregroundRole());
    }
};

} // namespace

// Control

const ClassInfo& Control::Lookup()
{
    static const ClassInfo& info = RegisterClass(ClassBuilder("Control", &Object::Lookup())
                                                     .Op("Close")
                                                     .Property("Name", &Control::SetName)
                                                     .Property("Index", &Control::SetIndex)
                                                     .Build());
    return info;
}

Control::Control() = default;
Control::~Control() = default;

void Control::SetName(const String& name)
{
    CheckMainThread("Control.Name");
    name_ = name;
}

void Control::SetIndex(Integer index)
{
    CheckMainThread("Control.Index");
    index_ = index;
}

// RectControl

struct RectControl::Impl {
    QPointer<QWidget> widget;
};

const ClassInfo& RectControl::Lookup()
{
    static const ClassInfo& info
        = RegisterClass(ClassBuilder("RectControl", &Control::Lookup())
                            .Op("AcceptFileDrop", { "String" })
                            .Op("AcceptMacDataDrop", { "String" })
                            .Op("AcceptPictureDrop")
                            .Op("AcceptRawDataDrop", { "String" })
                            .Op("AcceptTextDrop")
                            .Op("Constructor")
                            .Op("DrawInto", { "Graphics", "Integer", "Integer" })
                            .Op("Invalidate", { "Boolean" })
                            .Op("Invalidate", { "Integer", "Integer", "Integer", "Integer", "Boolean" })
                            .Op("RectControl")
                            .Op("Refresh")
                            .Op("RefreshRect")
                            .Op("SetFocus")
                            .Op("TrueWindow", {}, "Window")
                            .Op("_AddMenuHandler", { "String", "Ptr" })
                            .Op("_DependencyList")
                            .Op("_Move", { "Integer", "Integer", "Integer", "Integer" })
                            .Event("Open")
                            .Event("Close")
                            .Property("Left", &RectControl::SetLeft)
                            .Property("Top", &RectControl::SetTop)
                            .Property("Width", &RectControl::SetWidth)
                            .Property("Height", &RectControl::SetHeight)
                            .Property("Visible", &RectControl::SetVisible)
                            .Property("Enabled", &RectControl::SetEnabled)
                            .Property("TabIndex", &RectControl::SetTabIndex)
                            .Property("HelpTag", &RectControl::SetHelpTag)
                            .Kept("TabPanelIndex", Type::IntegerType)
                            .Kept("TabStop", Type::BooleanType)
                            .Kept("AutoDeactivate", Type::BooleanType)
                            .Kept("InitialParent", Type::StringType)
                            .Kept("LockLeft", Type::BooleanType)
                            .Kept("LockTop", Type::BooleanType)
                            .Kept("LockRight", Type::BooleanType)
                            .Kept("LockBottom", Type::BooleanType)
                            .Build());
    return info;
}

RectControl::RectControl()
    : impl_(std::make_unique<Impl>())
{
}

RectControl::~RectControl()
{
    delete impl_->widget.data();
}

void RectControl::Constructor()
{
    CheckMainThread("RectControl.Constructor");
    if (impl_->widget)
        return;
    Ref<fw::Window> window = TrueWindow();
    if (!window)
        throw NilObjectException("a control needs the window it was made for");
    impl_->widget = CreateWidget(window->Content());
    ApplyGeometry();
    impl_->widget->setEnabled(enabled_);
    impl_->widget->setToolTip(ToQString(helpTag_));
    impl_->widget->setVisible(visible_);
    Polish();
}

QWidget* RectControl::Widget() const
{
    return impl_->widget.data();
}

void RectControl::ApplyGeometry()
{
    QWidget* w = impl_->widget;
    if (!w)
        return;
    const Ref<fw::Window> window = TrueWindow();
    const auto pixels = [&](Integer units) { return window ? window->ToPixels(units) : ToInt(units); };
    // The edges are scaled rather than the lengths, so that controls that meet in
    // the layout meet on the screen.
    const Integer right = Integer { ToInt(left_) } + ToInt(std::max<Integer>(width_, 0));
    const Integer bottom = Integer { ToInt(top_) } + ToInt(std::max<Integer>(height_, 0));
    const int left = pixels(left_), top = pixels(top_);
    w->setGeometry(left, top, pixels(right) - left, pixels(bottom) - top);
}

void RectControl::SetLeft(Integer v)
{
    CheckMainThread("RectControl.Left");
    left_ = v;
    ApplyGeometry();
}

void RectControl::SetTop(Integer v)
{
    CheckMainThread("RectControl.Top");
    top_ = v;
    ApplyGeometry();
}

void RectControl::SetWidth(Integer v)
{
    CheckMainThread("RectControl.Width");
    width_ = v;
    ApplyGeometry();
}

void RectControl::SetHeight(Integer v)
{
    CheckMainThread("RectControl.Height");
    height_ = v;
    ApplyGeometry();
}

void RectControl::SetVisible(bool v)
{
    CheckMainThread("RectControl.Visible");
    visible_ = v;
    if (QWidget* w = impl_->widget)
        w->setVisible(v);
}

void RectControl::SetEnabled(bool v)
{
    CheckMainThread("RectControl.Enabled");
    enabled_ = v;
    if (QWidget* w = impl_->widget)
        w->setEnabled(v);
}

void RectControl::SetTabIndex(Integer v)
{
    CheckMainThread("RectControl.TabIndex");
    tabIndex_ = v;
}

void RectControl::SetHelpTag(const String& v)
{
    CheckMainThread("RectControl.HelpTag");
    helpTag_ = v;
    if (QWidget* w = impl_->widget)
        w->setToolTip(ToQString(v));
}

void RectControl::Invalidate(bool /*eraseBackground*/)
{
    CheckMainThread("RectControl.Invalidate");
    if (QWidget* w = impl_->widget)
        w->update();
}

// TextControl

const ClassInfo& TextControl::Lookup()
{
    static const ClassInfo& info = RegisterClass(ClassBuilder("TextControl", &RectControl::Lookup())
                                                     .Property("TextSize", &TextControl::SetTextSize)
                                                     .Property("TextFont", &TextControl::SetTextFont)
                                                     .Property("Bold", &TextControl::SetBold)
                                                     .Property("Italic", &TextControl::SetItalic)
                                                     .Property("Underline", &TextControl::SetUnderline)
                                                     .Kept("TextUnit", Type::IntegerType)
                                                     .Kept("Transparent", Type::BooleanType)
                                                     .Kept("DataSource", Type::StringType)
                                                     .Kept("DataField", Type::StringType)
                                                     .Build());
    return info;
}

void TextControl::SetTextSize(Single points)
{
    CheckMainThread("TextSize");
    textSize_ = points;
    ApplyFont();
}

void TextControl::SetTextFont(const String& font)
{
    CheckMainThread("TextFont");
    textFont_ = font;
    ApplyFont();
}

void TextControl::SetBold(bool v)
{
    CheckMainThread("Bold");
    bold_ = v;
    ApplyFont();
}

void TextControl::SetItalic(bool v)
{
    CheckMainThread("Italic");
    italic_ = v;
    ApplyFont();
}

void TextControl::SetUnderline(bool v)
{
    CheckMainThread("Underline");
    underline_ = v;
    ApplyFont();
}

void TextControl::Polish()
{
    ApplyFont();
}

void TextControl::ApplyFont()
{
    QWidget* w = Widget();
    if (!w)
        return;
    QFont font = w->parentWidget() ? w->parentWidget()->font() : QFont();
    // "System" and "SmallSystem" name the platform's own control font.
    if (textFont_ != String("System") && textFont_ != String("SmallSystem") && !textFont_.IsEmpty())
        font.setFamily(ToQString(textFont_));
    if (textSize_ > 0) {
        const Ref<fw::Window> window = TrueWindow();
        const double scale = window ? window->Scale() : 1.0;
        font.setPixelSize(std::max(1, static_cast<int>(std::min(textSize_ * scale + 0.5, 1e6))));
    }
    font.setBold(bold_);
    font.setItalic(italic_);
    font.setUnderline(underline_);
    w->setFont(font);
}

// Label

const ClassInfo& Label::Lookup()
{
    static const ClassInfo& info = RegisterClass(ClassBuilder("Label", &TextControl::Lookup())
                                                     .Factory<Label>()
                                                     .Property("Text", &Label::SetText)
                                                     .Property("TextAlign", &Label::SetTextAlign)
                                                     .Property("TextColor", &Label::SetTextColor)
                                                     .Kept("Multiline", Type::BooleanType)
                                                     .Kept("Selectable", Type::BooleanType)
                                                     .Build());
    return info;
}

Label::Label() = default;
Label::~Label() = default;

QWidget* Label::CreateWidget(QWidget* parent)
{
    auto* label = new LabelWidget(ToQString(text_), parent);
    label->setTextFormat(Qt::PlainText);
    label->setAutoFillBackground(false);
    return label;
}

void Label::SetText(const String& text)
{
    CheckMainThread("Label.Text");
    text_ = text;
    if (auto* label = static_cast<QLabel*>(Widget()))
        label->setText(ToQString(text));
}

void Label::SetTextAlign(Integer align)
{
    CheckMainThread("Label.TextAlign");
    textAlign_ = align;
    ApplyStyle();
}

void Label::SetTextColor(Color c)
{
    CheckMainThread("Label.TextColor");
    textColor_ = c;
    ApplyStyle();
}

void Label::Polish()
{
    TextControl::Polish();
    ApplyStyle();
}

void Label::ApplyStyle()
{
    auto* label = static_cast<QLabel*>(Widget());
    if (!label)
        return;
    Qt::Alignment h = Qt::AlignLeft;
    if (textAlign_ == 2)
        h = Qt::AlignHCenter;
    else if (textAlign_ == 3)
        h = Qt::AlignRight;
    label->setAlignment(h | Qt::AlignTop);
    // Black, the stored default, stands for the desktop's own text colour: drawn
    // as black it would vanish on a dark scheme. An empty palette inherits the
    // window's, with every role as the scheme gives it.
    if (textColor_ == Color {}) {
        label->setPalette(QPalette());
        return;
    }
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, QColor::fromRgb(textColor_.rgb));
    label->setPalette(palette);
}

// PopupMenu

struct PopupMenu::Impl {
    QPointer<QComboBox> combo;
    std::vector<String> rows; // kept before the widget exists
    Integer listIndex = -1;
};

const ClassInfo& PopupMenu::Lookup()
{
    static const ClassInfo& info = RegisterClass(ClassBuilder("PopupMenu", &TextControl::Lookup())
                                                     .Factory<PopupMenu>()
                                                     .Event("Change")
                                                     .Property("ListIndex", &PopupMenu::SetListIndex)
                                                     .Property("InitialValue", &PopupMenu::SetInitialValue)
                                                     .Build());
    return info;
}

PopupMenu::PopupMenu()
    : impl_(std::make_unique<Impl>())
{
}
PopupMenu::~PopupMenu() = default;

namespace {

// A wheel turn over the closed box would pick the next row, and Qt reports that as
// the user's choice; a pointer that only passes over it must not change the selection.
// The open list scrolls as usual: its wheel events go to the list, not here.
class PopupComboBox : public QComboBox {
public:
    using QComboBox::QComboBox;

protected:
    void wheelEvent(QWheelEvent* event) override { event->ignore(); }
};

} // namespace

QWidget* PopupMenu::CreateWidget(QWidget* parent)
{
    auto* combo = new PopupComboBox(parent);
    // Focus comes from a click or the keyboard, not from the wheel passing over.
    combo->setFocusPolicy(Qt::StrongFocus);
    impl_->combo = combo;
    for (const String& row : impl_->rows)
        combo->addItem(ToQString(row));
    combo->setCurrentIndex(static_cast<int>(impl_->listIndex));
    // Only the user's picks arrive here; changes made from code raise Change themselves.
    QObject::connect(combo, &QComboBox::activated, combo, [this](int index) {
        impl_->listIndex = index;
        Dispatch([this] { RaiseEvent("Change"); });
    });
    return combo;
}

void PopupMenu::DeleteAllRows()
{
    CheckMainThread("PopupMenu.DeleteAllRows");
    impl_->rows.clear();
    if (impl_->combo)
        impl_->combo->clear();
    if (impl_->listIndex != -1) {
        impl_->listIndex = -1;
        RaiseEvent("Change");
    }
}

void PopupMenu::AddRow(const String& text)
{
    CheckMainThread("PopupMenu.AddRow");
    impl_->rows.push_back(text);
    if (impl_->combo) {
        impl_->combo->addItem(ToQString(text));
        // A combo box selects its first row by itself; a popup selects only when told to.
        impl_->combo->setCurrentIndex(static_cast<int>(impl_->listIndex));
    }
}

Integer PopupMenu::ListCount() const
{
    CheckMainThread("PopupMenu.ListCount");
    return static_cast<Integer>(impl_->rows.size());
}

Integer PopupMenu::ListIndex() const
{
    CheckMainThread("PopupMenu.ListIndex");
    return impl_->listIndex;
}

void PopupMenu::SetListIndex(Integer index)
{
    CheckMainThread("PopupMenu.ListIndex");
    if (index < -1 || index >= ListCount())
        return;
    if (index == impl_->listIndex)
        return;
    impl_->listIndex = index;
    if (impl_->combo)
        impl_->combo->setCurrentIndex(static_cast<int>(index));
    RaiseEvent("Change");
}

String PopupMenu::List(Integer row) const
{
    CheckMainThread("PopupMenu.List");
    if (row < 0 || row >= ListCount())
        throw OutOfBoundsException("PopupMenu.List: no row " + Str(row).ToStdString());
    return impl_->rows[static_cast<std::size_t>(row)];
}

void PopupMenu::SetInitialValue(const String& rows)
{
    CheckMainThread("PopupMenu.InitialValue");
    const std::string& text = rows.Bytes();
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos)
            end = text.size();
        AddRow(String(text.substr(start, end - start)));
        start = end + 1;
    }
}

// CheckBox

const ClassInfo& CheckBox::Lookup()
{
    static const ClassInfo& info = RegisterClass(ClassBuilder("CheckBox", &TextControl::Lookup())
                                                     .Factory<CheckBox>()
                                                     .Event("Action")
                                                     .Property("Caption", &CheckBox::SetCaption)
                                                     .Property("Value", &CheckBox::SetValue)
                                                     .Property("State", &CheckBox::SetState)
                                                     .Build());
    return info;
}

CheckBox::CheckBox() = default;
CheckBox::~CheckBox() = default;

QWidget* CheckBox::CreateWidget(QWidget* parent)
{
    auto* box = new QCheckBox(ToQString(caption_), parent);
    box->setChecked(value_);
    QObject::connect(box, &QCheckBox::toggled, box, [this](bool checked) { value_ = checked; });
    return box;
}

void CheckBox::SetCaption(const String& caption)
{
    CheckMainThread("CheckBox.Caption");
    caption_ = caption;
    if (auto* box = static_cast<QCheckBox*>(Widget()))
        box->setText(ToQString(caption));
}

bool CheckBox::Value() const
{
    CheckMainThread("CheckBox.Value");
    return value_;
}

void CheckBox::SetValue(bool ticked)
{
    CheckMainThread("CheckBox.Value");
    value_ = ticked;
    if (auto* box = static_cast<QCheckBox*>(Widget()))
        box->setChecked(ticked);
}

void CheckBox::SetState(Integer state)
{
    SetValue(state != 0);
}

// Canvas

const ClassInfo& Canvas::Lookup()
{
    static const ClassInfo& info = RegisterClass(
        ClassBuilder("Canvas", &RectControl::Lookup())
            .Factory<Canvas>()
            .Override("_DependencyList")
            .Op("Event_CreatePane")
            .Op("Scroll", { "Integer", "Integer", "Integer", "Integer", "Integer", "Integer" })
            .Event("Paint")
            .Kept("AcceptFocus", Type::BooleanType)
            .Kept("AcceptTabs", Type::BooleanType)
            .Kept("DoubleBuffer", Type::BooleanType)
            .Kept("EraseBackground", Type::BooleanType)
            .Kept("Transparent", Type::BooleanType)
            .Kept("UseFocusRing", Type::BooleanType)
            .Build());
    return info;
}

Canvas::Canvas() = default;
Canvas::~Canvas() = default;

QWidget* Canvas::CreateWidget(QWidget* parent)
{
    auto* w = new CanvasWidget(this, parent);
    w->setAttribute(Qt::WA_TranslucentBackground);
    return w;
}

} // namespace fw

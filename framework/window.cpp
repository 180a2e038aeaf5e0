#include "framework/window.h"

#include "framework/menu.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFontMetricsF>
#include <QLayout>
#include <QMainWindow>
#include <QPalette>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <map>

namespace fw {

namespace {

std::map<std::string, WeakRef<Window>>& ImplicitWindows()
{
    static std::map<std::string, WeakRef<Window>> windows;
    return windows;
}

// The framework holds every constructed window until it closes or the run ends.
std::vector<Ref<Window>>& OpenWindows()
{
    static std::vector<Ref<Window>> windows;
    return windows;
}

void Forget(Window* window)
{
    auto& open = OpenWindows();
    auto it = std::find_if(open.begin(), open.end(), [&](const Ref<Window>& w) { return w.get() == window; });
    if (it == open.end())
        return;
    Ref<Window> keep = *it; // destroy after the list is consistent again
    open.erase(it);
}

QString ToQString(const String& s)
{
    return QString::fromUtf8(s.Bytes().data(), static_cast<qsizetype>(s.Bytes().size()));
}

int ToInt(Integer v)
{
    return static_cast<int>(std::clamp<Integer>(v, -1'000'000, 1'000'000));
}

// How much larger the font is than Qt's own default, the font the stored layouts
// were made for: the larger of the ratios of line height and of text width, so
// that text grows by no more than the layout in either direction. A font no
// larger than the default gives 1.
double LayoutScale(const QFont& font)
{
    static const QString sample = QStringLiteral("The quick brown fox jumps over the lazy dog 0123456789");
    const QFontMetricsF reference(QFont(QStringLiteral("Sans Serif"), 9)), desktop(font);
    const double height = desktop.height() / reference.height();
    const double width = desktop.horizontalAdvance(sample) / reference.horizontalAdvance(sample);
    return std::max({ 1.0, height, width });
}

// Some schemes dim the text of a window without focus below what reads (Adwaita's
// dark one to 3.9:1), and the count is read while other windows have the focus:
// the window's text keeps its focused colours.
void KeepTextReadableWithoutFocus(QWidget& window)
{
    QPalette palette = window.palette();
    for (QPalette::ColorRole role : { QPalette::WindowText, QPalette::Text, QPalette::ButtonText })
        palette.setColor(QPalette::Inactive, role, palette.color(QPalette::Active, role));
    window.setPalette(palette);
}

class WindowWidget : public QMainWindow {
public:
    explicit WindowWidget(Window* owner)
        : owner_(owner)
    {
    }

protected:
    void closeEvent(QCloseEvent* event) override
    {
        event->accept();
        owner_->HandleCloseRequest();
    }

private:
    Window* owner_;
};

} // namespace

struct Window::Impl {
    QPointer<WindowWidget> widget;
    QWidget* content = nullptr;
    double scale = 1;
};

const ClassInfo& Window::Lookup()
{
    static const ClassInfo& info
        = RegisterClass(ClassBuilder("Window", &Object::Lookup())
                            .Factory<Window>()
                            .Op("AcceptFileDrop", { "String" })
                            .Op("AcceptMacDataDrop", { "String" })
                            .Op("AcceptPictureDrop")
                            .Op("AcceptRawDataDrop", { "String" })
                            .Op("AcceptTextDrop")
                            .Op("BitmapForCaching", { "Integer", "Integer" }, "Picture")
                            .Op("Close")
                            .Op("Constructor")
                            .Op("Control", { "Integer" }, "Control")
                            .Op("DrawInto", { "Graphics", "Integer", "Integer", "Boolean" })
                            .Op("FocusNext")
                            .Op("FocusPrevious")
                            .Op("Hide")
                            .Op("Invalidate", { "Boolean" })
                            .Op("Invalidate", { "Integer", "Integer", "Integer", "Integer", "Boolean" })
                            .Op("Maximize")
                            .Op("Minimize")
                            .Op("Operator_Convert", {}, "WindowPtr")
                            .Op("Refresh", { "Boolean" })
                            .Op("RefreshRect", { "Integer", "Integer", "Integer", "Integer", "Boolean" })
                            .Op("Restore")
                            .Op("SetFocus")
                            .Op("Show")
                            .Op("ShowModal")
                            .Op("ShowModalWithin", { "Window" })
                            .Op("ShowWithin", { "Window", "Integer" })
                            .Op("TrueWindow", {}, "Window")
                            .Op("UpdateNow")
                            .Op("Window")
                            .Op("_AddControl", { "String", "Object" })
                            .Op("_AddMenuHandler", { "String", "Ptr" })
                            .Op("_ControlByName", { "String" }, "Object")
                            .Op("_ControlByNameIndex", { "String", "Integer" }, "Object")
                            .Op("_DependencyList")
                            .Op("_Move", { "Integer", "Integer", "Integer", "Integer" })
                            .Op("__New", { "Class" }, "Object")
                            .Event("Layout")
                            .Event("CreateControls")
                            .Event("AddMenuHandlers")
                            .Event("Open")
                            .Event("Close")
                            .Property("Width", &Window::SetWidth)
                            .Property("Height", &Window::SetHeight)
                            .Property("Title", &Window::SetTitle)
                            .Property("Visible", &Window::SetVisible)
                            .Property("Resizeable", &Window::SetResizeable)
                            .Property("CloseButton", &Window::SetCloseButton)
                            .Property("MinimizeButton", &Window::SetMinimizeButton)
                            .Property("MaximizeButton", &Window::SetMaximizeButton)
                            .Property("FullScreenButton", &Window::SetFullScreenButton)
                            .Property("MenuBarVisible", &Window::SetMenuBarVisible)
                            .Kept("MinWidth", Type::IntegerType)
                            .Kept("MinHeight", Type::IntegerType)
                            .Kept("MaxWidth", Type::IntegerType)
                            .Kept("MaxHeight", Type::IntegerType)
                            .Kept("Frame", Type::IntegerType)
                            .Kept("Composite", Type::BooleanType)
                            .Kept("MacProcID", Type::IntegerType)
                            .Kept("FullScreen", Type::BooleanType)
                            .Kept("LiveResize", Type::BooleanType)
                            .Kept("Placement", Type::IntegerType)
                            .Kept("HasBackColor", Type::BooleanType)
                            .Kept("BackColor", Type::ColorType)
                            .Build());
    return info;
}

Window::Window()
    : impl_(std::make_unique<Impl>())
{
}

Window::~Window()
{
    // Controls go first: each deletes its own widget while the window's still exists.
    controls_.clear();
    delete impl_->widget.data();
}

QWidget* Window::Widget() const
{
    CheckMainThread("Window");
    if (!impl_->widget) {
        // Taken once: the layout does not follow a font changed later.
        impl_->scale = LayoutScale(QApplication::font());
        auto* w = new WindowWidget(const_cast<Window*>(this));
        KeepTextReadableWithoutFocus(*w);
        auto* content = new QWidget(w);
        w->setCentralWidget(content);
        impl_->widget = w;
        impl_->content = content;
        const_cast<Window*>(this)->ApplySize();
        const_cast<Window*>(this)->ApplyFlags();
        w->setWindowTitle(ToQString(title_));
    }
    return impl_->widget.data();
}

QWidget* Window::Content() const
{
    Widget();
    return impl_->content;
}

double Window::Scale() const
{
    Widget();
    return impl_->scale;
}

int Window::ToPixels(Integer units) const
{
    return static_cast<int>(std::lround(ToInt(units) * Scale()));
}

void Window::Constructor()
{
    CheckMainThread("Window.Constructor");
    if (constructed_)
        return;
    constructed_ = true;
    const std::string typeName = Class().typeName;
    Ref<Window> self = Self<Window>();
    ImplicitWindows()[typeName] = self;
    OpenWindows().push_back(self);
    try {
        Widget();
        RaiseEvent("Layout");
        RaiseEvent("CreateControls");
        ApplyTabOrder();
        EventArgs menuArgs;
        RaiseEvent("AddMenuHandlers", menuArgs);
        // Handlers may add controls; walk a copy.
        std::vector<Entry> controls = controls_;
        for (const Entry& e : controls)
            e.control->RaiseEvent("Open");
        RaiseEvent("Open");
        if (visible_)
            Widget()->show();
    } catch (...) {
        ImplicitWindows().erase(typeName);
        Forget(this);
        throw;
    }
}

Ref<Object> Window::New(const ClassInfo& cls)
{
    CheckMainThread("Window.__New");
    if (!cls.factory)
        throw UnsupportedOperationException("the class " + cls.typeName + " cannot be made");
    Ref<Object> object = cls.factory();
    if (auto* control = dynamic_cast<fw::Control*>(object.get()))
        control->owner_ = Self<Window>();
    return object;
}

void Window::AddControl(const String& name, const Ref<Object>& control)
{
    CheckMainThread("Window._AddControl");
    auto* c = dynamic_cast<fw::Control*>(control.get());
    if (!c)
        throw IllegalCastException("only a control can be added to a window");
    c->name_ = name;
    controls_.push_back({ name, control });
}

Ref<Object> Window::ControlByName(const String& name) const
{
    CheckMainThread("Window._ControlByName");
    for (const Entry& e : controls_)
        if (e.name == name)
            return e.control;
    return Ref<Object>();
}

Ref<Object> Window::ControlByNameIndex(const String& name, Integer index) const
{
    CheckMainThread("Window._ControlByNameIndex");
    for (const Entry& e : controls_)
        if (e.name == name && static_cast<const fw::Control*>(e.control.get())->Index() == index)
            return e.control;
    return Ref<Object>();
}

Ref<fw::MenuBar> Window::MenuBar() const
{
    CheckMainThread("Window.MenuBar");
    return menuBar_;
}

void Window::SetMenuBar(const Ref<fw::MenuBar>& bar)
{
    CheckMainThread("Window.MenuBar");
    menuBar_ = bar;
    detail::InstallMenuBar(*this, bar);
}

void Window::AddMenuHandler(const String& itemName, MenuDelegate handler)
{
    CheckMainThread("Window._AddMenuHandler");
    for (auto& [name, existing] : menuHandlers_)
        if (name == itemName) {
            existing = std::move(handler);
            return;
        }
    menuHandlers_.emplace_back(itemName, std::move(handler));
    if (menuBar_)
        detail::InstallMenuBar(*this, menuBar_);
}

bool Window::HasMenuHandler(const String& itemName) const
{
    for (const auto& entry : menuHandlers_)
        if (entry.first == itemName)
            return true;
    return false;
}

bool Window::HandleMenuItem(const String& itemName)
{
    CheckMainThread("Window menu handler");
    for (const auto& [name, handler] : menuHandlers_)
        if (name == itemName) {
            handler.invoke();
            return true;
        }
    return false;
}

void Window::Show()
{
    CheckMainThread("Window.Show");
    visible_ = true;
    Widget()->show();
}

void Window::Hide()
{
    CheckMainThread("Window.Hide");
    visible_ = false;
    Widget()->hide();
}

void Window::Close()
{
    CheckMainThread("Window.Close");
    if (impl_->widget)
        impl_->widget->close();
}

void Window::HandleCloseRequest()
{
    Dispatch([this] { RaiseEvent("Close"); });
    // Let go of the window once its event has unwound; a handler may still use it.
    QTimer::singleShot(0, [weak = WeakRef<Window>(Self<Window>())] {
        if (Ref<Window> w = weak.Lock())
            Forget(w.get());
    });
}

void Window::ApplyTabOrder()
{
    std::vector<RectControl*> placed;
    for (const Entry& e : controls_)
        if (auto* rect = dynamic_cast<RectControl*>(e.control.get()); rect && rect->Widget())
            placed.push_back(rect);
    std::stable_sort(placed.begin(), placed.end(),
        [](const RectControl* a, const RectControl* b) { return a->TabIndex() < b->TabIndex(); });
    for (std::size_t i = 1; i < placed.size(); ++i)
        QWidget::setTabOrder(placed[i - 1]->Widget(), placed[i]->Widget());
}

void Window::ApplySize()
{
    if (!impl_->widget)
        return;
    impl_->content->setFixedSize(ToPixels(width_), ToPixels(height_));
    impl_->widget->layout()->setSizeConstraint(
        resizeable_ ? QLayout::SetDefaultConstraint : QLayout::SetFixedSize);
    impl_->widget->adjustSize();
}

void Window::ApplyFlags()
{
    if (!impl_->widget)
        return;
    Qt::WindowFlags flags
        = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint;
    if (closeButton_)
        flags |= Qt::WindowCloseButtonHint;
    if (minimizeButton_)
        flags |= Qt::WindowMinimizeButtonHint;
    if (maximizeButton_ && resizeable_)
        flags |= Qt::WindowMaximizeButtonHint;
    if (fullScreenButton_ && resizeable_)
        flags |= Qt::WindowFullscreenButtonHint;
    bool shown = impl_->widget->isVisible();
    impl_->widget->setWindowFlags(flags);
    if (shown)
        impl_->widget->show();
}

void Window::SetWidth(Integer v)
{
    CheckMainThread("Window.Width");
    width_ = v;
    ApplySize();
}

void Window::SetHeight(Integer v)
{
    CheckMainThread("Window.Height");
    height_ = v;
    ApplySize();
}

void Window::SetTitle(const String& v)
{
    CheckMainThread("Window.Title");
    title_ = v;
    if (impl_->widget)
        impl_->widget->setWindowTitle(ToQString(v));
}

void Window::SetVisible(bool v)
{
    CheckMainThread("Window.Visible");
    visible_ = v;
    // Before Open the window is only marked; Constructor shows it at the end.
    if (constructed_ && impl_->widget && !v)
        impl_->widget->hide();
}

void Window::SetResizeable(bool v)
{
    CheckMainThread("Window.Resizeable");
    resizeable_ = v;
    ApplySize();
    ApplyFlags();
}

void Window::SetCloseButton(bool v)
{
    CheckMainThread("Window.CloseButton");
    closeButton_ = v;
    ApplyFlags();
}

void Window::SetMinimizeButton(bool v)
{
    CheckMainThread("Window.MinimizeButton");
    minimizeButton_ = v;
    ApplyFlags();
}

void Window::SetMaximizeButton(bool v)
{
    CheckMainThread("Window.MaximizeButton");
    maximizeButton_ = v;
    ApplyFlags();
}

void Window::SetFullScreenButton(bool v)
{
    CheckMainThread("Window.FullScreenButton");
    fullScreenButton_ = v;
    ApplyFlags();
}

void Window::SetMenuBarVisible(bool v)
{
    CheckMainThread("Window.MenuBarVisible");
    menuBarVisible_ = v;
    if (impl_->widget)
        if (QWidget* bar = impl_->widget->menuWidget())
            bar->setVisible(v);
}

Ref<Window> GetImplicitWindow(const std::string& typeName)
{
    CheckMainThread("GetImplicitWindow");
    auto& windows = ImplicitWindows();
    auto it = windows.find(typeName);
    if (it == windows.end())
        return Ref<Window>();
    Ref<Window> w = it->second.Lock();
    if (!w)
        windows.erase(it);
    return w;
}

void ReleaseAllWindows()
{
    auto windows = std::move(OpenWindows());
    OpenWindows().clear();
    windows.clear();
}

} // namespace fw

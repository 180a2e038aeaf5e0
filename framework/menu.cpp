#include "framework/menu.h"

#include "framework/application.h"
#include "framework/window.h"

#include <QAction>
#include <QKeySequence>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QTimer>

#include <algorithm>

namespace fw {

namespace {

// The Qt menu bar that shows a tree on one window.
class ShownMenuBar : public QMenuBar {
public:
    ShownMenuBar(Window& owner, Ref<MenuBar> tree, QWidget* parent)
        : QMenuBar(parent)
        , window(&owner)
        , model(std::move(tree))
    {
    }
    Window* window;
    Ref<MenuBar> model;
};

std::vector<QPointer<ShownMenuBar>>& ShownBars()
{
    static std::vector<QPointer<ShownMenuBar>> bars;
    return bars;
}

bool rebuildPending = false;

QString ToQString(const String& s)
{
    return QString::fromUtf8(s.Bytes().data(), static_cast<qsizetype>(s.Bytes().size()));
}

QKeySequence ShortcutFor(const String& text)
{
    // Qt's Ctrl is the command key on macOS and Ctrl elsewhere, just what "Cmd" means.
    QStringList keys = ToQString(text).split(QLatin1Char('+'));
    for (QString& key : keys)
        if (key == QLatin1String("Cmd"))
            key = QStringLiteral("Ctrl");
    return QKeySequence::fromString(keys.join(QLatin1Char('+')), QKeySequence::PortableText);
}

bool Contains(const MenuItem& root, const MenuItem* item)
{
    for (Integer i = 0; i < root.Count(); ++i) {
        Ref<MenuItem> child = root.Item(i);
        if (child.get() == item || Contains(*child, item))
            return true;
    }
    return false;
}

void AddItems(QMenu* menu, const MenuItem& parent, Window& window, QObject* context)
{
    for (Integer i = 0; i < parent.Count(); ++i) {
        Ref<MenuItem> item = parent.Item(i);
        const QString name = ToQString(item->Name());
        if (item->Count() > 0) {
            QMenu* sub = menu->addMenu(ToQString(item->Text()));
            sub->menuAction()->setObjectName(name);
            sub->menuAction()->setVisible(item->Visible());
            AddItems(sub, *item, window, context);
            continue;
        }
        if (item->Text() == String("-")) {
            QAction* separator = menu->addSeparator();
            separator->setObjectName(name);
            separator->setVisible(item->Visible());
            continue;
        }
        QAction* action = menu->addAction(ToQString(item->Text()));
        action->setObjectName(name);
        action->setVisible(item->Visible());
        if (item->KeyboardShortcutSet() && !item->KeyboardShortcut().IsEmpty())
            action->setShortcut(ShortcutFor(item->KeyboardShortcut()));
        if (item->Class().IsA(QuitMenuItem::Lookup())) {
            action->setMenuRole(QAction::QuitRole);
            QObject::connect(action, &QAction::triggered, context, [] { Dispatch([] { Quit(0); }); });
            continue;
        }
        // Only the About item may move to where the platform keeps it; no text guessing.
        action->setMenuRole(
            item->Class().IsA(AppleMenuItem::Lookup()) ? QAction::AboutRole : QAction::NoRole);
        action->setEnabled(!item->AutoEnable() || window.HasMenuHandler(item->Name()));
        QObject::connect(action, &QAction::triggered, context, [w = &window, itemName = item->Name()] {
            Dispatch([&] {
                // A handler may let the window go; it must outlive the handler.
                Ref<Window> keep = w->Self<Window>();
                keep->HandleMenuItem(itemName);
            });
        });
    }
}

void RebuildShownBars()
{
    std::vector<std::pair<Window*, Ref<MenuBar>>> shown;
    for (const QPointer<ShownMenuBar>& bar : ShownBars())
        if (bar)
            shown.emplace_back(bar->window, bar->model);
    for (const auto& [window, model] : shown)
        detail::InstallMenuBar(*window, model);
}

} // namespace

const ClassInfo& MenuItem::Lookup()
{
    static const ClassInfo& info
        = RegisterClass(ClassBuilder("MenuItem", &Object::Lookup())
                            .Factory<MenuItem>()
                            .Op("Append", { "MenuItem" })
                            .Op("Child", { "String" }, "MenuItem")
                            .Op("Clone", {}, "MenuItem")
                            .Op("Close")
                            .Op("Constructor")
                            .Op("Constructor", { "MenuItem" })
                            .Op("Constructor", { "String", "Variant" })
                            .Op("Count", {}, "Integer")
                            .Op("Enable")
                            .Op("Handle", { "MenuItem.HandleType" }, "Integer")
                            .Op("Insert", { "Integer", "MenuItem" })
                            .Op("Item", { "Integer" }, "MenuItem")
                            .Op("MenuItem")
                            .Op("MenuItem", { "String", "Variant" })
                            .Op("PopUp", {}, "MenuItem")
                            .Op("PopUp", { "Integer", "Integer" }, "MenuItem")
                            .Op("Remove", { "Integer" })
                            .Op("Remove", { "MenuItem" })
                            .Op("Remove", { "String" })
                            .Op("_DependencyList")
                            .Op("_DisableEntirely")
                            .Op("_Lookup", { "String" }, "MenuItem")
                            .Op("_Lookup", { "String", "Integer" }, "MenuItem")
                            .Op("_SelfEnable")
                            .Op("_Swap", { "String", "MenuItem" })
                            .Event("Action")
                            .Property("Name", &MenuItem::SetName)
                            .Property("Text", &MenuItem::SetText)
                            .Property("KeyboardShortcut", &MenuItem::SetKeyboardShortcut)
                            .Property("AutoEnable", &MenuItem::SetAutoEnable)
                            .Property("Visible", &MenuItem::SetVisible)
                            .Build());
    return info;
}

const ClassInfo& MenuBar::Lookup()
{
    static const ClassInfo& info = RegisterClass(ClassBuilder("MenuBar", &MenuItem::Lookup())
                                                     .Factory<MenuBar>()
                                                     .Override("_DependencyList")
                                                     .Op("_InstallClone", { "MenuItem" })
                                                     .Build());
    return info;
}

const ClassInfo& AppleMenuItem::Lookup()
{
    static const ClassInfo& info
        = RegisterClass(ClassBuilder("AppleMenuItem", &MenuItem::Lookup()).Factory<AppleMenuItem>().Build());
    return info;
}

const ClassInfo& QuitMenuItem::Lookup()
{
    static const ClassInfo& info
        = RegisterClass(ClassBuilder("QuitMenuItem", &MenuItem::Lookup()).Factory<QuitMenuItem>().Build());
    return info;
}

MenuItem::MenuItem() = default;
MenuItem::~MenuItem() = default;

void MenuItem::Constructor()
{
    CheckMainThread("MenuItem.Constructor");
}

void MenuItem::SetName(const String& v)
{
    CheckMainThread("MenuItem.Name");
    name_ = v;
}

void MenuItem::SetText(const String& v)
{
    CheckMainThread("MenuItem.Text");
    text_ = v;
    Changed();
}

void MenuItem::SetKeyboardShortcut(const String& v)
{
    CheckMainThread("MenuItem.KeyboardShortcut");
    shortcut_ = v;
    shortcutSet_ = true;
    Changed();
}

void MenuItem::SetAutoEnable(bool v)
{
    CheckMainThread("MenuItem.AutoEnable");
    autoEnable_ = v;
    Changed();
}

void MenuItem::SetVisible(bool v)
{
    CheckMainThread("MenuItem.Visible");
    visible_ = v;
    Changed();
}

void MenuItem::Append(const Ref<MenuItem>& item)
{
    CheckMainThread("MenuItem.Append");
    if (!item)
        throw NilObjectException("MenuItem.Append: the item is nil");
    children_.push_back(item);
    Changed();
}

Ref<MenuItem> MenuItem::Child(const String& name) const
{
    CheckMainThread("MenuItem.Child");
    for (const Ref<MenuItem>& c : children_)
        if (c->name_ == name)
            return c;
    return Ref<MenuItem>();
}

Ref<MenuItem> MenuItem::Lookup(const String& name) const
{
    CheckMainThread("MenuItem._Lookup");
    for (const Ref<MenuItem>& c : children_) {
        if (c->name_ == name)
            return c;
        if (Ref<MenuItem> below = c->Lookup(name))
            return below;
    }
    return Ref<MenuItem>();
}

Ref<MenuItem> MenuItem::Item(Integer index) const
{
    CheckMainThread("MenuItem.Item");
    if (index < 0 || index >= Count())
        throw OutOfBoundsException("MenuItem.Item: no item " + Str(index).ToStdString());
    return children_[static_cast<std::size_t>(index)];
}

void MenuItem::Changed()
{
    if (rebuildPending)
        return;
    for (const QPointer<ShownMenuBar>& bar : ShownBars())
        if (bar && (bar->model.get() == this || Contains(*bar->model, this))) {
            // One rebuild for a run of changes, and never under a menu's own signal.
            rebuildPending = true;
            QTimer::singleShot(0, [] {
                rebuildPending = false;
                RebuildShownBars();
            });
            return;
        }
}

namespace detail {

void InstallMenuBar(Window& window, const Ref<MenuBar>& bar)
{
    auto* mainWindow = qobject_cast<QMainWindow*>(window.Widget());
    if (!mainWindow)
        return;
    auto& shown = ShownBars();
    shown.erase(std::remove_if(shown.begin(), shown.end(),
                    [&](const QPointer<ShownMenuBar>& b) { return !b || b->window == &window; }),
        shown.end());
    if (!bar) {
        mainWindow->setMenuBar(nullptr);
        return;
    }
    auto* qbar = new ShownMenuBar(window, bar, mainWindow);
    for (Integer i = 0; i < bar->Count(); ++i) {
        Ref<MenuItem> menu = bar->Item(i);
        QMenu* qmenu = qbar->addMenu(ToQString(menu->Text()));
        qmenu->menuAction()->setObjectName(ToQString(menu->Name()));
        qmenu->menuAction()->setVisible(menu->Visible());
        AddItems(qmenu, *menu, window, qbar);
    }
    if (!window.MenuBarVisible())
        qbar->setVisible(false);
    // The bar shown before is hidden and deleted later: its own signal may be running.
    mainWindow->setMenuBar(qbar);
    shown.push_back(qbar);
}

} // namespace detail

} // namespace fw

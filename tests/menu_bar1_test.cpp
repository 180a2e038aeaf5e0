// The menu bar: the tree MenuBar1 builds, its single instance, and how the
// framework shows a tree on a window's Qt menu bar.
#include "app/menu_bar1.h"
#include "framework/application.h"
#include "framework/window.h"

#include <QAction>
#include <QCoreApplication>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>

#include <gtest/gtest.h>

#include <set>
#include <thread>

namespace {

using fw::Ref;

enum class Shortcut { Never, Empty, Set };

struct Row {
    const char* name;
    const fw::ClassInfo& (*cls)();
    const char* text;
    Shortcut shortcut;
    const char* keys; // the shortcut's text when set
    const char* parent;
    fw::Integer position; // in its parent
};

const std::vector<Row>& Rows()
{
    static const std::vector<Row> rows = {
        { "FileMenu", &fw::MenuItem::Lookup, "&File", Shortcut::Empty, "", nullptr, 0 },
        { "FileAboutVantrope", &fw::AppleMenuItem::Lookup, "About Vantrope...", Shortcut::Empty, "",
            "FileMenu", 0 },
        { "FileQuit", &fw::QuitMenuItem::Lookup, "&Quit", Shortcut::Set, "Cmd+Q", "FileMenu", 1 },
        { "EditMenu", &fw::MenuItem::Lookup, "&Edit", Shortcut::Empty, "", nullptr, 1 },
        { "EditUndo", &fw::MenuItem::Lookup, "&Undo", Shortcut::Set, "Cmd+Z", "EditMenu", 0 },
        { "UntitledMenu1", &fw::MenuItem::Lookup, "-", Shortcut::Never, "", "EditMenu", 1 },
        { "EditCut", &fw::MenuItem::Lookup, "Cu&t", Shortcut::Set, "Cmd+X", "EditMenu", 2 },
        { "EditCopy", &fw::MenuItem::Lookup, "&Copy", Shortcut::Set, "Cmd+C", "EditMenu", 3 },
        { "EditPaste", &fw::MenuItem::Lookup, "&Paste", Shortcut::Set, "Cmd+V", "EditMenu", 4 },
        { "EditClear", &fw::MenuItem::Lookup, "&Delete", Shortcut::Empty, "", "EditMenu", 5 },
        { "UntitledMenu0", &fw::MenuItem::Lookup, "-", Shortcut::Never, "", "EditMenu", 6 },
        { "EditSelectAll", &fw::MenuItem::Lookup, "Select &All", Shortcut::Set, "Cmd+A", "EditMenu", 7 },
    };
    return rows;
}

class MenuBar1Test : public ::testing::Test {
protected:
    // Each test starts as a run does: no menu bar made yet.
    void SetUp() override { MenuBar1::implicitInstance = nullptr; }
    void TearDown() override { MenuBar1::implicitInstance = nullptr; }
};

TEST_F(MenuBar1Test, BuildsTheTwelveItemsOfTheTable)
{
    Ref<class MenuBar1> bar = MenuBar1();
    ASSERT_EQ(bar->Count(), 2);
    EXPECT_EQ(bar->Child("FileMenu")->Count(), 2);
    EXPECT_EQ(bar->Child("EditMenu")->Count(), 8);
    std::set<fw::MenuItem*> distinct;
    for (const Row& row : Rows()) {
        SCOPED_TRACE(row.name);
        Ref<fw::MenuItem> parent = row.parent ? bar->Child(row.parent) : Ref<fw::MenuItem>(bar);
        ASSERT_TRUE(parent);
        Ref<fw::MenuItem> item = parent->Item(row.position);
        EXPECT_EQ(item->Name().ToStdString(), row.name);
        EXPECT_EQ(bar->Lookup(row.name), item) << "found by name below the bar";
        EXPECT_EQ(&item->Class(), &row.cls()) << item->Class().typeName;
        EXPECT_EQ(item->Text().ToStdString(), row.text);
        EXPECT_EQ(item->KeyboardShortcutSet(), row.shortcut != Shortcut::Never);
        EXPECT_EQ(item->KeyboardShortcut().ToStdString(), row.keys);
        EXPECT_TRUE(item->AutoEnable());
        EXPECT_TRUE(item->Visible());
        distinct.insert(item.get());
    }
    EXPECT_EQ(distinct.size(), Rows().size());
    EXPECT_EQ(MenuBar1::Lookup().typeName, "MenuBar1.MenuBar1");
    EXPECT_EQ(MenuBar1::Lookup().base, &fw::MenuBar::Lookup());
}

TEST_F(MenuBar1Test, TheAccessorBuildsOnceAndKeepsTheBar)
{
    EXPECT_TRUE(MenuBar1::implicitInstance.IsNil());
    Ref<class MenuBar1> first = MenuBar1();
    Ref<class MenuBar1> second = MenuBar1();
    EXPECT_EQ(first, second);
    EXPECT_EQ(MenuBar1::implicitInstance, first);
    EXPECT_EQ(second->Count(), 2) << "the second call built nothing more";
    EXPECT_EQ(second->Child("EditMenu")->Count(), 8);
}

TEST_F(MenuBar1Test, AFailedBuildKeepsNothingAndTheNextCallStartsAfresh)
{
    // Menu members belong to the main thread: off it the build fails at its first item.
    bool raised = false;
    std::thread([&] {
        try {
            MenuBar1();
        } catch (const fw::ThreadAccessingUIException&) {
            raised = true;
        }
    }).join();
    ASSERT_TRUE(raised);
    EXPECT_TRUE(MenuBar1::implicitInstance.IsNil());

    Ref<class MenuBar1> bar = MenuBar1();
    EXPECT_EQ(MenuBar1::implicitInstance, bar);
    ASSERT_EQ(bar->Count(), 2);
    EXPECT_EQ(bar->Child("FileMenu")->Count(), 2);
    EXPECT_EQ(bar->Child("EditMenu")->Count(), 8);
}

// ---- On a window -------------------------------------------------------------------

class MenuWindow : public fw::Window {
public:
    int aboutChosen = 0;
    bool About()
    {
        ++aboutChosen;
        return true;
    }
};

QMainWindow* Main(const fw::Window& w)
{
    return static_cast<QMainWindow*>(w.Widget());
}

QAction* Action(const fw::Window& w, const char* name)
{
    QWidget* bar = Main(w)->menuWidget();
    return bar ? bar->findChild<QAction*>(name) : nullptr;
}

class ShownMenuBarTest : public MenuBar1Test {
protected:
    void SetUp() override
    {
        MenuBar1Test::SetUp();
        window = fw::New<MenuWindow>();
        window->SetMenuBar(MenuBar1());
        window->AddMenuHandler("FileAboutVantrope", fw::RuntimeCreateDelegate(&MenuWindow::About, window));
    }
    Ref<MenuWindow> window;
};

TEST_F(ShownMenuBarTest, ShowsTheTreeWithMnemonicsShortcutsAndRoles)
{
    auto* bar = qobject_cast<QMenuBar*>(Main(*window)->menuWidget());
    ASSERT_NE(bar, nullptr);
    ASSERT_EQ(bar->actions().size(), 2);
    EXPECT_EQ(bar->actions()[0]->text(), "&File");
    EXPECT_EQ(bar->actions()[1]->text(), "&Edit");

    QMenu* edit = bar->actions()[1]->menu();
    ASSERT_NE(edit, nullptr);
    QStringList shown;
    for (QAction* a : edit->actions())
        shown << (a->isSeparator() ? QString("-") : a->text() + " " + a->shortcut().toString());
    EXPECT_EQ(shown.join(", ").toStdString(),
        "&Undo Ctrl+Z, -, Cu&t Ctrl+X, &Copy Ctrl+C, &Paste Ctrl+V, &Delete , -, Select &All Ctrl+A");

    QAction* about = Action(*window, "FileAboutVantrope");
    QAction* quit = Action(*window, "FileQuit");
    ASSERT_TRUE(about && quit);
    EXPECT_EQ(about->text(), "About Vantrope...");
    EXPECT_EQ(about->menuRole(), QAction::AboutRole);
    EXPECT_TRUE(about->shortcut().isEmpty());
    EXPECT_EQ(quit->menuRole(), QAction::QuitRole);
    EXPECT_EQ(quit->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
}

TEST_F(ShownMenuBarTest, OnlyHandledItemsAndQuitAreEnabled)
{
    for (const Row& row : Rows()) {
        if (!row.parent || row.text == std::string("-"))
            continue;
        QAction* action = Action(*window, row.name);
        ASSERT_NE(action, nullptr) << row.name;
        const bool served
            = row.name == std::string("FileAboutVantrope") || row.name == std::string("FileQuit");
        EXPECT_EQ(action->isEnabled(), served) << row.name;
    }
}

TEST_F(ShownMenuBarTest, ChoosingAnItemRunsTheWindowsHandler)
{
    Action(*window, "FileAboutVantrope")->trigger();
    Action(*window, "FileAboutVantrope")->trigger();
    EXPECT_EQ(window->aboutChosen, 2);
}

TEST_F(ShownMenuBarTest, TheApplicationAndTheWindowShareOneBar)
{
    auto app = fw::New<fw::Application>();
    app->SetMenuBar(MenuBar1());
    EXPECT_EQ(app->MenuBar(), window->MenuBar());
    EXPECT_EQ(window->MenuBar(), MenuBar1::implicitInstance);
}

TEST_F(ShownMenuBarTest, AChangedItemShowsAtTheNextTurnOfTheLoop)
{
    MenuBar1::implicitInstance->Lookup("EditUndo")->SetText("&Undo Typing");
    QCoreApplication::processEvents();
    QAction* undo = Action(*window, "EditUndo");
    ASSERT_NE(undo, nullptr);
    EXPECT_EQ(undo->text(), "&Undo Typing");
}

TEST_F(ShownMenuBarTest, ANilBarShowsNone)
{
    window->SetMenuBar(nullptr);
    EXPECT_EQ(Main(*window)->menuWidget(), nullptr);
    EXPECT_TRUE(window->MenuBar().IsNil());
}

} // namespace

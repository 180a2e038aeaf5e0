// The main window: the counting and serial state, the sixteen controls reached
// by name, and the handlers of the window's, the controls' and the menu's events.
#pragma once

#include "framework/menu.h"
#include "framework/runtime.h"
#include "framework/timer.h"
#include "framework/window.h"

#include <vector>

class MySerial;
class NixieCanvas;

class Window1 : public fw::Window {
    FW_OBJECT(Window1)
public:
    using Integer = fw::Integer;

    Window1();
    ~Window1() override;

    // Window events.
    void Layout();
    void CreateControls();
    void CreateControls0();

    // Control accessors: each asks the window for its control by name at every call.
    fw::Ref<fw::PopupMenu> serialPopup();
    fw::Ref<fw::Timer> Timer1();
    fw::Ref<fw::Label> StaticCPM();
    fw::Ref<fw::Label> StaticStatus();
    fw::Ref<fw::Label> StaticSerialError();
    fw::Ref<fw::Label> StaticText3();
    fw::Ref<fw::Label> StaticText2();
    fw::Ref<fw::Label> StaticPortName();
    fw::Ref<NixieCanvas> Canvas1(Integer index);
    fw::Ref<fw::CheckBox> CheckBoxNixie();
    fw::Ref<fw::CheckBox> CheckBoxBlankLeadingZeros();
    fw::Ref<fw::Timer> Timer2();
    fw::Ref<fw::CheckBox> CheckBoxClicks();

    // Control events.
    void serialPopup_Change(const fw::Ref<fw::PopupMenu>& sender);
    void serialPopup_Open(const fw::Ref<fw::PopupMenu>& sender);
    void Timer1_Action(const fw::Ref<fw::Timer>& sender);
    void StaticCPM_Open(const fw::Ref<fw::Label>& sender);
    void Timer2_Action(const fw::Ref<fw::Timer>& sender);

    // Menu-item accessors: each looks its item up by name below the window's menu bar.
    fw::Ref<fw::MenuItem> EditMenu();
    fw::Ref<fw::MenuItem> EditSelectAll();
    fw::Ref<fw::MenuItem> UntitledMenu0();
    fw::Ref<fw::MenuItem> EditClear();
    fw::Ref<fw::MenuItem> EditPaste();
    fw::Ref<fw::MenuItem> EditCopy();
    fw::Ref<fw::MenuItem> EditCut();
    fw::Ref<fw::MenuItem> UntitledMenu1();
    fw::Ref<fw::MenuItem> EditUndo();
    fw::Ref<fw::MenuItem> FileMenu();
    fw::Ref<fw::QuitMenuItem> FileQuit();
    fw::Ref<fw::AppleMenuItem> FileAboutVantrope();

    void AddMenuHandlers(const fw::Ref<fw::Window>& window);
    void Event_Open();
    void Event_Close();
    bool FileAboutVantrope_Action();
    void SetWindowsDTR();
    void ReadNewCounts();
    // Virtual so that tests can watch the tick hand its count on to the tubes and the clicks.
    virtual void SetNixies(Integer count);
    virtual void PlayClickSound(Integer count);

    // The serial object of the last port choice; nil until the first one.
    fw::Ref<MySerial> Serial1;
    // The chosen popup row minus one: -1 for "None", n for the system's port n.
    Integer ourSerialPort = 0;
    // The ring element that receives the next closed second, 0 to 59.
    Integer secondcountsindex = 0;
    // The ring of per-second counts; elements 0 to 59 are used.
    std::vector<Integer> counts;
    // Reading ticks whose input is still to be thrown away after a port opened.
    Integer ignoreCountsTimer = 0;
    // Pulses counted so far in the current second.
    Integer tempCountsSum = 0;
};

// The one main window, made on the first call. The class and its accessor share
// their name, as `struct stat` and `stat()` do; write `class Window1` for the type
// where the accessor hides it.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wshadow"
fw::Ref<class Window1> Window1();
#pragma GCC diagnostic pop

#include "monitor/click_sounds.h"

#include "framework/sound.h"
#include "monitor/window1.h"

namespace {

// The accessors run inside the 50 ms tick, so each file is tried on the first
// call only; what that gave, nil included, stays for the rest of the run.
fw::Ref<fw::Sound> LoadOnce(bool& loaded, fw::Ref<fw::Sound>& permaSound, const char* fileName)
{
    if (!loaded) {
        // Set before the load, so that a load that fails is not tried again.
        loaded = true;
        if (auto folder = fw::GetApplicationBundleResources())
            if (auto item = folder->Child(fileName))
                permaSound = item->OpenAsSound();
    }
    return permaSound;
}

} // namespace

fw::Ref<fw::Sound> Click1a()
{
    static bool loaded = false;
    static fw::Ref<fw::Sound> permaSound;
    return LoadOnce(loaded, permaSound, "Click1a.wav");
}

fw::Ref<fw::Sound> Click2()
{
    static bool loaded = false;
    static fw::Ref<fw::Sound> permaSound;
    return LoadOnce(loaded, permaSound, "Click2.wav");
}

fw::Ref<fw::Sound> Click3()
{
    static bool loaded = false;
    static fw::Ref<fw::Sound> permaSound;
    return LoadOnce(loaded, permaSound, "Click3.wav");
}

fw::Ref<fw::Sound> Click4()
{
    static bool loaded = false;
    static fw::Ref<fw::Sound> permaSound;
    return LoadOnce(loaded, permaSound, "Click4.wav");
}

fw::Ref<fw::Sound> Click5()
{
    static bool loaded = false;
    static fw::Ref<fw::Sound> permaSound;
    return LoadOnce(loaded, permaSound, "Click5.wav");
}

void Window1::PlayClickSound(Integer count)
{
    fw::Ref<fw::Sound> sound;
    if (count == 1)
        sound = Click1a();
    else if (count == 2)
        sound = Click2();
    else if (count == 3)
        sound = Click3();
    else if (count == 4)
        sound = Click4();
    else if (count >= 5)
        sound = Click5();
    if (sound)
        sound->Play();
}

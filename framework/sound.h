// Folders and sounds: the program's Resources folder, the items in a folder, and
// sounds decoded from WAV files and played on SDL2_mixer.
//
// The audio device opens once, with a short buffer so that a sound starts within a
// few tens of milliseconds of Play. The first sound opened asks for it, and it opens
// on a thread of its own: SDL's start connects to the session and system buses and
// then to the sound server, any of which can keep it waiting without end, and the
// main thread never waits on that. A sound plays once the device is open; a Play
// before that is silent. Once the device has failed to open every sound is nil, and
// those opened before stay silent; like a file that is missing, empty, truncated or
// no WAV at all, that is not reported.
#pragma once

#include "framework/runtime.h"

#include <memory>
#include <string>

namespace fw {

class Sound;

// A file or folder by its path; the item need not exist.
class FolderItem : public Object {
    FW_OBJECT(FolderItem)
public:
    explicit FolderItem(std::string nativePath);
    ~FolderItem() override;

    const std::string& NativePath() const { return path_; }

    // The item of that file name inside this folder; nil for a name that is not
    // one plain file name (empty, ".", "..", or with a "/").
    Ref<FolderItem> Child(const String& name) const;

    // The file decoded as a sound; nil when it is missing or not a usable WAV file,
    // or when the audio device has failed to open. Never waits for the device.
    Ref<Sound> OpenAsSound() const;

private:
    std::string path_;
};

// A decoded sound, kept in memory for as long as the object lives.
class Sound : public Object {
    FW_OBJECT(Sound)
public:
    ~Sound() override;

    // Starts the sound and returns at once; silent while the device is still
    // opening. A sound that is still playing goes on:
    // the new start plays over it on a free channel. With every channel busy the
    // start is dropped.
    void Play();

    struct Impl;
    explicit Sound(std::unique_ptr<Impl> impl);

private:
    std::unique_ptr<Impl> impl_;
};

// The program's Resources folder (see ApplicationResourcesPath), or nil when there is none.
Ref<FolderItem> GetApplicationBundleResources();

// True while the audio device is still opening: SDL's start may then be waiting on
// a bus, holding libdbus's global bus lock (see process_info.h).
bool AudioDeviceOpening();

// For tests: waits, at most `timeoutMs`, until the audio device that the first sound
// opened asked for has opened or failed to; true when it is open.
bool AudioDeviceOpened(int timeoutMs);

} // namespace fw

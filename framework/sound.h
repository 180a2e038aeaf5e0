// Folders and sounds: the program's Resources folder, the items in a folder, and
// sounds decoded from WAV files and played on SDL2_mixer.
//
// The audio device opens once, on the first sound opened, with a short buffer so
// that a sound starts within a few tens of milliseconds of Play. Without a usable
// device every sound is nil; like a file that is missing, empty, truncated or no
// WAV at all, that is not reported.
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
    // or when there is no audio device.
    Ref<Sound> OpenAsSound() const;

private:
    std::string path_;
};

// A decoded sound, kept in memory for as long as the object lives.
class Sound : public Object {
    FW_OBJECT(Sound)
public:
    ~Sound() override;

    // Starts the sound and returns at once. A sound that is still playing goes on:
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

} // namespace fw

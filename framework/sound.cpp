#include "framework/sound.h"

#include "framework/application.h"

#include <SDL.h>
#include <SDL_mixer.h>

#include <filesystem>
#include <system_error>

namespace fw {

namespace {

// 512 frames at 44.1 kHz: about 12 ms from Play to the first sample mixed.
constexpr int deviceRate = 44100;
constexpr int deviceChannels = 2;
constexpr int deviceBufferFrames = 512;

// The opened audio device. Each sound holds it, so it closes only after the last
// sound is gone, whatever the order of the program's static destructors.
class AudioDevice {
public:
    AudioDevice() = default;
    AudioDevice(const AudioDevice&) = delete;
    AudioDevice& operator=(const AudioDevice&) = delete;
    ~AudioDevice()
    {
        Mix_CloseAudio();
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }

    // Nil when no device could be opened; the first call alone tries.
    static std::shared_ptr<AudioDevice> Get()
    {
        static bool tried = false;
        static std::shared_ptr<AudioDevice> device;
        if (!tried) {
            tried = true;
            device = Open();
        }
        return device;
    }

private:
    static std::shared_ptr<AudioDevice> Open()
    {
        // SDL would otherwise take SIGINT and SIGTERM for its event queue, and a
        // SIGTERM would no longer end the program. Overriding, so that SDL's own
        // environment variables cannot turn the handlers back on.
        SDL_SetHintWithPriority(SDL_HINT_NO_SIGNAL_HANDLERS, "1", SDL_HINT_OVERRIDE);
        // A file whose samples were cut short is damaged: it gives no sound rather than part of one.
        SDL_SetHintWithPriority(SDL_HINT_WAVE_TRUNCATION, "strict", SDL_HINT_OVERRIDE);
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0)
            return nullptr;
        if (Mix_OpenAudio(deviceRate, AUDIO_S16SYS, deviceChannels, deviceBufferFrames) != 0) {
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
            return nullptr;
        }
        return std::make_shared<AudioDevice>();
    }
};

bool IsPlainFileName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos
        && name.find('\0') == std::string::npos;
}

} // namespace

struct Sound::Impl {
    std::shared_ptr<AudioDevice> device;
    Mix_Chunk* chunk = nullptr;
};

const ClassInfo& FolderItem::Lookup()
{
    static const ClassInfo& info = RegisterClass(ClassBuilder("FolderItem", &Object::Lookup()).Build());
    return info;
}

FolderItem::FolderItem(std::string nativePath)
    : path_(std::move(nativePath))
{
}
FolderItem::~FolderItem() = default;

Ref<FolderItem> FolderItem::Child(const String& name) const
{
    if (!IsPlainFileName(name.Bytes()))
        return Ref<FolderItem>();
    return New<FolderItem>((std::filesystem::path(path_) / name.Bytes()).string());
}

Ref<Sound> FolderItem::OpenAsSound() const
{
    // Regular files only: opening a FIFO would block until something writes to it.
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path_, ec))
        return Ref<Sound>();
    auto device = AudioDevice::Get();
    if (!device)
        return Ref<Sound>();
    // Decoding converts the samples to the device's format, once, here.
    Mix_Chunk* chunk = Mix_LoadWAV(path_.c_str());
    if (!chunk)
        return Ref<Sound>();
    auto impl = std::make_unique<Sound::Impl>();
    impl->device = std::move(device);
    impl->chunk = chunk;
    return New<Sound>(std::move(impl));
}

const ClassInfo& Sound::Lookup()
{
    static const ClassInfo& info = RegisterClass(ClassBuilder("Sound", &Object::Lookup()).Build());
    return info;
}

Sound::Sound(std::unique_ptr<Impl> impl)
    : impl_(std::move(impl))
{
}

Sound::~Sound()
{
    // Halts the channels still playing it before its samples go.
    Mix_FreeChunk(impl_->chunk);
}

void Sound::Play()
{
    Mix_PlayChannel(-1, impl_->chunk, 0);
}

Ref<FolderItem> GetApplicationBundleResources()
{
    std::string path = ApplicationResourcesPath();
    if (path.empty())
        return Ref<FolderItem>();
    return New<FolderItem>(std::move(path));
}

} // namespace fw

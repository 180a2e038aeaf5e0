#include "framework/sound.h"

#include "framework/application.h"

#include <SDL.h>
#include <SDL_mixer.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <mutex>
#include <system_error>
#include <thread>

namespace fw {

namespace {

// 512 frames at 44.1 kHz: about 12 ms from Play to the first sample mixed.
constexpr int deviceRate = 44100;
constexpr int deviceChannels = 2;
constexpr int deviceBufferFrames = 512;

enum class DeviceState { NotAsked, Opening, Open, Failed };

// The device's opening, shared with the thread that opens it. That thread may wait
// inside SDL for as long as a bus or a sound server keeps it (SDL's start connects
// to both buses), and the process may end under it, so none of this is ever freed.
struct Opening {
    std::mutex mutex;
    std::condition_variable settled;
    DeviceState state = DeviceState::NotAsked;
};

Opening& TheOpening()
{
    static Opening* const opening = new Opening;
    return *opening;
}

DeviceState State()
{
    Opening& opening = TheOpening();
    std::lock_guard lock(opening.mutex);
    return opening.state;
}

// On the opening thread: once it has said how the opening went, it touches SDL no
// more, and the main thread takes the device over.
void OpenDevice()
{
    bool opened = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
    if (opened && Mix_OpenAudio(deviceRate, AUDIO_S16SYS, deviceChannels, deviceBufferFrames) != 0) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        opened = false;
    }
    Opening& opening = TheOpening();
    std::lock_guard lock(opening.mutex);
    opening.state = opened ? DeviceState::Open : DeviceState::Failed;
    opening.settled.notify_all();
}

// Starts opening the device on the first call, without waiting for it; then says
// how the opening stands.
DeviceState AskForDevice()
{
    Opening& opening = TheOpening();
    std::lock_guard lock(opening.mutex);
    if (opening.state == DeviceState::NotAsked) {
        try {
            std::thread(&OpenDevice).detach();
            opening.state = DeviceState::Opening;
        } catch (const std::system_error&) {
            // No thread to spare: the clicks stay silent.
            opening.state = DeviceState::Failed;
        }
    }
    return opening.state;
}

// The open device, taken over by the main thread. Each sound that has been made
// ready holds it, so it closes only after the last sound is gone, whatever the
// order of the program's static destructors.
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

    // Nil while the device is not open.
    static std::shared_ptr<AudioDevice> Get()
    {
        static std::shared_ptr<AudioDevice> device;
        if (!device && State() == DeviceState::Open)
            device = std::make_shared<AudioDevice>();
        return device;
    }
};

// Set before anything of SDL runs.
void SetHints()
{
    static const bool set = [] {
        // SDL would otherwise take SIGINT and SIGTERM for its event queue, and a
        // SIGTERM would no longer end the program. Overriding, so that SDL's own
        // environment variables cannot turn the handlers back on.
        SDL_SetHintWithPriority(SDL_HINT_NO_SIGNAL_HANDLERS, "1", SDL_HINT_OVERRIDE);
        // A file whose samples were cut short is damaged: it gives no sound rather than part of one.
        SDL_SetHintWithPriority(SDL_HINT_WAVE_TRUNCATION, "strict", SDL_HINT_OVERRIDE);
        return true;
    }();
    (void)set;
}

bool IsPlainFileName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos
        && name.find('\0') == std::string::npos;
}

std::string ReadWhole(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// True when SDL decodes the bytes as a WAV file; needs no device.
bool IsUsableWave(const std::string& bytes)
{
    if (bytes.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()))
        return false;
    SDL_AudioSpec spec;
    Uint8* samples = nullptr;
    Uint32 length = 0;
    if (!SDL_LoadWAV_RW(
            SDL_RWFromConstMem(bytes.data(), static_cast<int>(bytes.size())), 1, &spec, &samples, &length))
        return false;
    SDL_FreeWAV(samples);
    return true;
}

} // namespace

struct Sound::Impl {
    std::string wave; // the file, until it is decoded for the device
    std::shared_ptr<AudioDevice> device;
    Mix_Chunk* chunk = nullptr;

    // Decodes the file into the device's format once the device is open; a
    // failure, of the device or of the decoding, leaves the sound silent for good.
    void MakeReady()
    {
        if (wave.empty())
            return;
        device = AudioDevice::Get();
        if (device)
            chunk = Mix_LoadWAV_RW(SDL_RWFromConstMem(wave.data(), static_cast<int>(wave.size())), 1);
        else if (State() != DeviceState::Failed)
            return;
        wave.clear();
        wave.shrink_to_fit();
    }
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
    SetHints();
    auto impl = std::make_unique<Sound::Impl>();
    impl->wave = ReadWhole(path_);
    // The file is judged now, whether the device is open yet or not.
    if (!IsUsableWave(impl->wave))
        return Ref<Sound>();
    const DeviceState state = AskForDevice();
    if (state == DeviceState::Failed)
        return Ref<Sound>();
    if (state == DeviceState::Open) {
        impl->MakeReady();
        if (!impl->chunk)
            return Ref<Sound>();
    }
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
    if (impl_->chunk)
        Mix_FreeChunk(impl_->chunk);
}

void Sound::Play()
{
    if (!impl_->chunk)
        impl_->MakeReady();
    if (impl_->chunk)
        Mix_PlayChannel(-1, impl_->chunk, 0);
}

Ref<FolderItem> GetApplicationBundleResources()
{
    std::string path = ApplicationResourcesPath();
    if (path.empty())
        return Ref<FolderItem>();
    return New<FolderItem>(std::move(path));
}

bool AudioDeviceOpening()
{
    return State() == DeviceState::Opening;
}

bool AudioDeviceOpened(int timeoutMs)
{
    Opening& opening = TheOpening();
    std::unique_lock lock(opening.mutex);
    opening.settled.wait_for(
        lock, std::chrono::milliseconds(timeoutMs), [&] { return opening.state != DeviceState::Opening; });
    return opening.state == DeviceState::Open;
}

} // namespace fw

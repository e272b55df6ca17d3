#include "sound/basSound.h"

#include "sound/SdlMixerApi.h"

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <thread>

namespace {

// Reached only once the audio output is open, so the libraries are there.
const SdlMixerApi& sdl() {
    return *LoadSdlMixer();
}

// A device whose file is still being decoded has no chunk yet; it counts as playing, since
// everything that opens a device also asks it to play, and it starts as soon as it is decoded.
struct Device {
    Mix_Chunk* chunk = nullptr;
    int channel = -1;     // the channel last started for this device
    bool started = false; // played since it was opened or rewound: at the end once it stops
};
using DevicePtr = std::shared_ptr<Device>;

// The stamp of a file that would not load, so that it is not decoded again on every repeat tick
// (ten times a second during an alarm) unless it has changed since.
struct FileStamp {
    off_t size = -1;
    time_t mtime = 0;
};

enum class Output { Untried, Open, Unavailable };

// The one piece of process-wide state of the sound code, and it has to be: SDL_mixer has a
// single audio output and a single channel table per process, and a device here is a chunk on
// one of those channels, so a second owner could only fight this one over opening and closing
// the output and over the channels. The decoding threads are detached and may outlive whoever
// started them, so the table must outlive them too: it is made on first use and never
// destroyed (a static's destructor would run after SDL may already have gone at exit).
// SoundCloseAll releases the chunks for an orderly end.
struct Registry {
    // Guards everything below: the decoding threads hand their chunks over under it.
    std::mutex mutex;
    std::condition_variable loadEnded;
    int loading = 0;
    std::map<std::string, DevicePtr> devices;
    std::map<std::string, FileStamp> failedLoads;
    Output output = Output::Untried;
};
Registry& registry() {
    static auto* r = new Registry;
    return *r;
}

// Opens the audio output once. A machine without a sound card keeps running silently; the
// attempt is not repeated every 100 ms. Caller holds the registry's lock.
bool audioReady() {
    Output& output = registry().output;
    if (output == Output::Untried) {
        output = Output::Unavailable;
        if (!LoadSdlMixer())
            return false;
        // The program handles SIGINT and SIGTERM itself (its close sequence); SDL must not
        // turn them into events nobody reads.
        sdl().SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        if (sdl().InitSubSystem(SDL_INIT_AUDIO) == 0) {
            sdl().Init(MIX_INIT_OGG | MIX_INIT_FLAC | MIX_INIT_MP3 | MIX_INIT_OPUS);
            if (sdl().OpenAudio(MIX_DEFAULT_FREQUENCY, MIX_DEFAULT_FORMAT, 2, 2048) == 0) {
                sdl().AllocateChannels(8);
                output = Output::Open;
            } else {
                sdl().Quit();
                sdl().QuitSubSystem(SDL_INIT_AUDIO);
            }
        }
    }
    return output == Output::Open;
}

bool playing(const Device& d) {
    if (!d.chunk)
        return true;
    return d.channel >= 0 && sdl().Playing(d.channel) && sdl().GetChunk(d.channel) == d.chunk;
}

Device* find(const std::string& path) {
    auto it = registry().devices.find(path);
    return it == registry().devices.end() ? nullptr : it->second.get();
}

void start(Device& d) {
    int channel = sdl().PlayChannel(-1, d.chunk, 0);
    if (channel < 0) {
        // Every channel busy (many sounds at once): make room rather than stay silent.
        sdl().AllocateChannels(sdl().AllocateChannels(-1) + 8);
        channel = sdl().PlayChannel(-1, d.chunk, 0);
    }
    d.channel = channel;
    d.started = channel >= 0;
}

// Decodes the whole file off the user-interface thread (minutes of sound take seconds and
// hundreds of megabytes to decode) and starts the device it was meant for, unless that device
// was closed meanwhile.
void decode(std::string path, DevicePtr device, FileStamp stamp) {
    Mix_Chunk* chunk = sdl().LoadWAV(path.c_str());
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    auto it = r.devices.find(path);
    const bool wanted = it != r.devices.end() && it->second == device;
    if (!chunk) {
        r.failedLoads[path] = stamp;
        if (wanted)
            r.devices.erase(it);
    } else if (!wanted) {
        sdl().FreeChunk(chunk);
    } else {
        device->chunk = chunk;
        start(*device);
    }
    --r.loading;
    r.loadEnded.notify_all();
}

// Caller holds the registry's lock.
Device* open(const std::string& path) {
    if (path.empty() || !audioReady())
        return nullptr;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return nullptr;
    Registry& r = registry();
    const FileStamp stamp{st.st_size, st.st_mtime};
    auto failed = r.failedLoads.find(path);
    if (failed != r.failedLoads.end() && failed->second.size == stamp.size &&
        failed->second.mtime == stamp.mtime)
        return nullptr;
    // Opening the file as a stream reads no more than its headers: a file that is no sound at
    // all is refused here and leaves no device, as before any decoding.
    if (Mix_Music* probe = sdl().LoadMUS(path.c_str())) {
        sdl().FreeMusic(probe);
        r.failedLoads.erase(path);
        auto device = std::make_shared<Device>();
        r.devices.emplace(path, device);
        ++r.loading;
        std::thread(decode, path, device, stamp).detach();
        return device.get();
    }
    // Formats only the whole-file loader knows (such as VOC) are small; anything else fails
    // as fast as its first bytes are read.
    Mix_Chunk* chunk = sdl().LoadWAV(path.c_str());
    if (!chunk) {
        r.failedLoads[path] = stamp;
        return nullptr;
    }
    r.failedLoads.erase(path);
    auto device = std::make_shared<Device>();
    device->chunk = chunk;
    return r.devices.emplace(path, device).first->second.get();
}

void rewind(Device& d) {
    if (d.chunk && playing(d))
        sdl().HaltChannel(d.channel);
    d.started = false;
}

// A device still decoding has no chunk: its thread frees what it decodes once it finds the
// device gone.
void release(Device& d) {
    if (!d.chunk)
        return;
    if (playing(d))
        sdl().HaltChannel(d.channel);
    sdl().FreeChunk(d.chunk);
}

void play(const std::string& path) {
    Device* d = find(path);
    if (!d) {
        d = open(path);
        if (!d)
            return;
    }
    // A playing (or still decoding) device goes on; one at its end stays there until it is
    // rewound.
    if (d->chunk && !playing(*d) && !d->started)
        start(*d);
}

std::string mode(const std::string& path) {
    const Device* d = find(path);
    if (!d)
        return {};
    return playing(*d) ? "PLAYING" : "STOPPED";
}

} // namespace

void SoundPlay(const std::string& path) {
    std::lock_guard lock(registry().mutex);
    play(path);
}

void SoundClose(const std::string& path) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    auto it = r.devices.find(path);
    if (it == r.devices.end())
        return;
    release(*it->second);
    r.devices.erase(it);
}

std::string SoundMode(const std::string& path) {
    std::lock_guard lock(registry().mutex);
    return mode(path);
}

void SoundRepeat(const std::string& path) {
    std::lock_guard lock(registry().mutex);
    if (mode(path) == "STOPPED")
        rewind(*find(path));
    play(path);
}

void SoundCloseAll() {
    Registry& r = registry();
    std::unique_lock lock(r.mutex);
    for (auto& [path, d] : r.devices)
        release(*d);
    r.devices.clear();
    // The output goes only after every decoding thread has let go of the mixer.
    r.loadEnded.wait(lock, [&] { return r.loading == 0; });
    r.failedLoads.clear();
    if (r.output == Output::Open) {
        sdl().CloseAudio();
        sdl().Quit();
        sdl().QuitSubSystem(SDL_INIT_AUDIO);
    }
    r.output = Output::Untried;
}

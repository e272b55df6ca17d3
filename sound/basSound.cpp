#include "sound/basSound.h"

#include <SDL2/SDL.h>
#include <SDL2/SDL_mixer.h>

#include <map>
#include <sys/stat.h>

namespace {

struct Device {
    Mix_Chunk* chunk = nullptr;
    int channel = -1;     // the channel last started for this device
    bool started = false; // played since it was opened or rewound: at the end once it stops
};

// Kept for the whole run and never destroyed: a static map's destructor would run after SDL may
// already have gone at exit. SoundCloseAll releases the chunks for an orderly end.
std::map<std::string, Device>& devices() {
    static auto* map = new std::map<std::string, Device>;
    return *map;
}

// A file that would not load is not decoded again on every repeat tick (ten times a second
// during an alarm) unless it has changed since.
struct FailedLoad {
    off_t size = -1;
    time_t mtime = 0;
};
std::map<std::string, FailedLoad>& failedLoads() {
    static auto* map = new std::map<std::string, FailedLoad>;
    return *map;
}

enum class Output { Untried, Open, Unavailable };
Output output = Output::Untried;

// Opens the audio output once. A machine without a sound card keeps running silently; the
// attempt is not repeated every 100 ms.
bool audioReady() {
    if (output == Output::Untried) {
        output = Output::Unavailable;
        // The program handles SIGINT and SIGTERM itself (its close sequence); SDL must not
        // turn them into events nobody reads.
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) == 0) {
            Mix_Init(MIX_INIT_OGG | MIX_INIT_FLAC | MIX_INIT_MP3 | MIX_INIT_OPUS);
            if (Mix_OpenAudio(MIX_DEFAULT_FREQUENCY, MIX_DEFAULT_FORMAT, 2, 2048) == 0) {
                Mix_AllocateChannels(8);
                output = Output::Open;
            } else {
                Mix_Quit();
                SDL_QuitSubSystem(SDL_INIT_AUDIO);
            }
        }
    }
    return output == Output::Open;
}

bool playing(const Device& d) {
    return d.channel >= 0 && Mix_Playing(d.channel) && Mix_GetChunk(d.channel) == d.chunk;
}

Device* find(const std::string& path) {
    auto it = devices().find(path);
    return it == devices().end() ? nullptr : &it->second;
}

Device* open(const std::string& path) {
    if (path.empty() || !audioReady())
        return nullptr;
    struct stat st {};
    const bool exists = stat(path.c_str(), &st) == 0;
    if (!exists)
        return nullptr;
    auto failed = failedLoads().find(path);
    if (failed != failedLoads().end() && failed->second.size == st.st_size &&
        failed->second.mtime == st.st_mtime)
        return nullptr;
    Mix_Chunk* chunk = Mix_LoadWAV(path.c_str());
    if (!chunk) {
        failedLoads()[path] = FailedLoad{st.st_size, st.st_mtime};
        return nullptr;
    }
    failedLoads().erase(path);
    return &devices().emplace(path, Device{chunk, -1, false}).first->second;
}

void start(Device& d) {
    int channel = Mix_PlayChannel(-1, d.chunk, 0);
    if (channel < 0) {
        // Every channel busy (many sounds at once): make room rather than stay silent.
        Mix_AllocateChannels(Mix_AllocateChannels(-1) + 8);
        channel = Mix_PlayChannel(-1, d.chunk, 0);
    }
    d.channel = channel;
    d.started = channel >= 0;
}

void rewind(Device& d) {
    if (playing(d))
        Mix_HaltChannel(d.channel);
    d.started = false;
}

void release(Device& d) {
    if (playing(d))
        Mix_HaltChannel(d.channel);
    Mix_FreeChunk(d.chunk);
}

} // namespace

void SoundPlay(const std::string& path) {
    Device* d = find(path);
    if (!d) {
        d = open(path);
        if (!d)
            return;
    }
    // A playing device goes on; one at its end stays there until it is rewound.
    if (!playing(*d) && !d->started)
        start(*d);
}

void SoundClose(const std::string& path) {
    auto it = devices().find(path);
    if (it == devices().end())
        return;
    release(it->second);
    devices().erase(it);
}

std::string SoundMode(const std::string& path) {
    const Device* d = find(path);
    if (!d)
        return {};
    return playing(*d) ? "PLAYING" : "STOPPED";
}

void SoundRepeat(const std::string& path) {
    if (SoundMode(path) == "STOPPED") {
        Device* d = find(path);
        rewind(*d);
    }
    SoundPlay(path);
}

void SoundCloseAll() {
    for (auto& [path, d] : devices())
        release(d);
    devices().clear();
    failedLoads().clear();
    if (output == Output::Open) {
        Mix_CloseAudio();
        Mix_Quit();
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
    output = Output::Untried;
}

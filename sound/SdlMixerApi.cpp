#include "sound/SdlMixerApi.h"

#include <cstdio>
#include <dlfcn.h>
#include <mutex>

namespace {

template <typename Fn> bool Find(void* lib, const char* name, Fn& fn) {
    fn = reinterpret_cast<Fn>(::dlsym(lib, name));
    return fn != nullptr;
}

bool Load(SdlMixerApi& api) {
    // The version-2 sonames every SDL2 release keeps. The mixer needs SDL, so SDL comes first
    // and is found again by the mixer's own dependency.
    void* sdl = ::dlopen("libSDL2-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
    void* mixer = sdl ? ::dlopen("libSDL2_mixer-2.0.so.0", RTLD_NOW | RTLD_LOCAL) : nullptr;
    if (!mixer) {
        const char* why = ::dlerror();
        std::fprintf(stderr, "Pawlinex: no warning sound: %s\n", why ? why : "SDL_mixer missing");
        return false;
    }
    const bool all =
        Find(sdl, "SDL_SetHint", api.SetHint) &&
        Find(sdl, "SDL_InitSubSystem", api.InitSubSystem) &&
        Find(sdl, "SDL_QuitSubSystem", api.QuitSubSystem) &&
        Find(sdl, "SDL_RWFromFile", api.RWFromFile) && Find(mixer, "Mix_Init", api.Init) &&
        Find(mixer, "Mix_Quit", api.Quit) && Find(mixer, "Mix_OpenAudio", api.OpenAudio) &&
        Find(mixer, "Mix_CloseAudio", api.CloseAudio) &&
        Find(mixer, "Mix_AllocateChannels", api.AllocateChannels) &&
        Find(mixer, "Mix_Playing", api.Playing) && Find(mixer, "Mix_GetChunk", api.GetChunk) &&
        Find(mixer, "Mix_PlayChannelTimed", api.PlayChannelTimed) &&
        Find(mixer, "Mix_LoadWAV_RW", api.LoadWAV_RW) &&
        Find(mixer, "Mix_FreeChunk", api.FreeChunk) && Find(mixer, "Mix_LoadMUS", api.LoadMUS) &&
        Find(mixer, "Mix_FreeMusic", api.FreeMusic) &&
        Find(mixer, "Mix_HaltChannel", api.HaltChannel);
    if (!all)
        std::fprintf(stderr, "Pawlinex: no warning sound: SDL_mixer lacks a function it needs\n");
    return all; // the libraries stay loaded for the rest of the run either way
}

} // namespace

const SdlMixerApi* LoadSdlMixer() {
    static std::once_flag once;
    static SdlMixerApi api;
    static bool loaded = false;
    std::call_once(once, [] { loaded = Load(api); });
    return loaded ? &api : nullptr;
}

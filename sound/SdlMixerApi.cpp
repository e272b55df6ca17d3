#include "sound/SdlMixerApi.h"

#include "settings/LoadedLibrary.h"

#include <mutex>

namespace {

bool Load(SdlMixerApi& api) {
    // The version-2 sonames every SDL2 release keeps. The mixer needs SDL, so SDL comes first
    // and is found again by the mixer's own dependency.
    const char* consequence = "no warning sound";
    const LoadedLibrary sdl("libSDL2-2.0.so.0", consequence);
    if (!sdl)
        return false;
    const LoadedLibrary mixer("libSDL2_mixer-2.0.so.0", consequence);
    return mixer && sdl.find("SDL_SetHint", api.SetHint) &&
           sdl.find("SDL_InitSubSystem", api.InitSubSystem) &&
           sdl.find("SDL_QuitSubSystem", api.QuitSubSystem) &&
           sdl.find("SDL_RWFromFile", api.RWFromFile) && mixer.find("Mix_Init", api.Init) &&
           mixer.find("Mix_Quit", api.Quit) && mixer.find("Mix_OpenAudio", api.OpenAudio) &&
           mixer.find("Mix_CloseAudio", api.CloseAudio) &&
           mixer.find("Mix_AllocateChannels", api.AllocateChannels) &&
           mixer.find("Mix_Playing", api.Playing) && mixer.find("Mix_GetChunk", api.GetChunk) &&
           mixer.find("Mix_PlayChannelTimed", api.PlayChannelTimed) &&
           mixer.find("Mix_LoadWAV_RW", api.LoadWAV_RW) &&
           mixer.find("Mix_FreeChunk", api.FreeChunk) && mixer.find("Mix_LoadMUS", api.LoadMUS) &&
           mixer.find("Mix_FreeMusic", api.FreeMusic) &&
           mixer.find("Mix_HaltChannel", api.HaltChannel);
}

} // namespace

const SdlMixerApi* LoadSdlMixer() {
    static std::once_flag once;
    static SdlMixerApi api;
    static bool loaded = false;
    std::call_once(once, [] { loaded = Load(api); });
    return loaded ? &api : nullptr;
}

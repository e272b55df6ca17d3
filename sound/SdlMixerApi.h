#pragma once

#include <SDL2/SDL.h>
#include <SDL2/SDL_mixer.h>

// SDL and SDL_mixer, loaded when the first sound is played rather than linked: with the decoders
// behind them they add a few megabytes to a program that may watch for days without ever making
// a sound. Only the calls the warning sound needs.
struct SdlMixerApi {
    decltype(&SDL_SetHint) SetHint = nullptr;
    decltype(&SDL_InitSubSystem) InitSubSystem = nullptr;
    decltype(&SDL_QuitSubSystem) QuitSubSystem = nullptr;
    decltype(&SDL_RWFromFile) RWFromFile = nullptr;
    decltype(&Mix_Init) Init = nullptr;
    decltype(&Mix_Quit) Quit = nullptr;
    decltype(&Mix_OpenAudio) OpenAudio = nullptr;
    decltype(&Mix_CloseAudio) CloseAudio = nullptr;
    decltype(&Mix_AllocateChannels) AllocateChannels = nullptr;
    decltype(&Mix_Playing) Playing = nullptr;
    decltype(&Mix_GetChunk) GetChunk = nullptr;
    decltype(&Mix_PlayChannelTimed) PlayChannelTimed = nullptr;
    decltype(&Mix_LoadWAV_RW) LoadWAV_RW = nullptr;
    decltype(&Mix_FreeChunk) FreeChunk = nullptr;
    decltype(&Mix_LoadMUS) LoadMUS = nullptr;
    decltype(&Mix_FreeMusic) FreeMusic = nullptr;
    decltype(&Mix_HaltChannel) HaltChannel = nullptr;

    // The whole file decoded into a chunk (what Mix_LoadWAV does).
    Mix_Chunk* LoadWAV(const char* path) const { return LoadWAV_RW(RWFromFile(path, "rb"), 1); }
    // Played once on a free channel (what Mix_PlayChannel does).
    int PlayChannel(int channel, Mix_Chunk* chunk, int loops) const {
        return PlayChannelTimed(channel, chunk, loops, -1);
    }
};

// The libraries, loaded on the first call; null when they cannot be (one line on standard
// error says why), and the program then plays nothing, as on a machine without sound. Any thread;
// the answer never changes.
const SdlMixerApi* LoadSdlMixer();

// Preloaded into the demo by the sound test to force what a busy machine does only now and then
// (QUARVEL_OUTPUT_DELAY says which):
//   unpause          SDL's thread hands the output a buffer of its own silence before the demo
//                    unpauses the device, so the output holds it when the callback first runs
//   first-callback   the callback's first run comes 25 ms late, with nothing held before it
//   both             the two together: SDL's silence held, then a first callback 25 ms late
#define _GNU_SOURCE
#include <SDL.h>
#include <dlfcn.h>
#include <stdlib.h>
#include <string.h>

static int delayed(const char* what) {
    const char* mode = getenv("QUARVEL_OUTPUT_DELAY");
    return mode != NULL && (strcmp(mode, what) == 0 || strcmp(mode, "both") == 0);
}

void SDL_PauseAudioDevice(SDL_AudioDeviceID device, int pause_on) {
    static void (*real)(SDL_AudioDeviceID, int);
    if (real == NULL) *(void**)&real = dlsym(RTLD_NEXT, "SDL_PauseAudioDevice");
    if (!pause_on && delayed("unpause")) SDL_Delay(10);
    real(device, pause_on);
}

static SDL_AudioCallback demoCallback;
static int called;

static void lateFirstCallback(void* userdata, Uint8* stream, int length) {
    if (!called) SDL_Delay(25);
    called = 1;
    demoCallback(userdata, stream, length);
}

SDL_AudioDeviceID SDL_OpenAudioDevice(const char* name, int iscapture, const SDL_AudioSpec* desired,
                                      SDL_AudioSpec* obtained, int allowed_changes) {
    static SDL_AudioDeviceID (*real)(const char*, int, const SDL_AudioSpec*, SDL_AudioSpec*, int);
    if (real == NULL) *(void**)&real = dlsym(RTLD_NEXT, "SDL_OpenAudioDevice");
    if (!delayed("first-callback")) return real(name, iscapture, desired, obtained, allowed_changes);
    SDL_AudioSpec wrapped = *desired;
    demoCallback = desired->callback;
    wrapped.callback = lateFirstCallback;
    return real(name, iscapture, &wrapped, obtained, allowed_changes);
}

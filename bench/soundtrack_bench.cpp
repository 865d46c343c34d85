// Prints how long the soundtrack player takes to build (the viewer waits for it before the first
// frame: the whole file is decoded then), with the file in the page cache and evicted from it,
// and how long Run takes: it returns when the first sample is being heard, so this is the wait
// before the first frame. Usage: quarvel-bench-soundtrack [file.mp3] [runs]; every other run
// evicts the file first. The audio driver is SDL's choice, or the one named in SDL_AUDIODRIVER
// (dummy and disk need no sound card).
#include "audio/soundtrack_player.h"

#include <SDL.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <random>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Asks the kernel to drop the file's cached pages, so the next read comes from the disk.
bool evictFromPageCache(const char* file) {
    const int fd = open(file, O_RDONLY);
    if (fd < 0) return false;
    const bool done = fdatasync(fd) == 0 && posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) == 0;
    close(fd);
    return done;
}

double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

void printSpread(const char* what, std::vector<double> values) {
    std::sort(values.begin(), values.end());
    std::printf("%s: median %.2f ms, min %.2f ms, max %.2f ms over %zu runs\n", what,
                values[values.size() / 2], values.front(), values.back(), values.size());
}

}  // namespace

int main(int argc, char** argv) {
    const char* file = argc > 1 ? argv[1] : QUARVEL_BENCH_MP3;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 20;
    std::printf("file: %s\n", file);

    std::vector<double> buildCached;
    std::vector<double> buildEvicted;
    std::vector<double> runToSound;
    std::string driver = "(none)";
    std::mt19937 random(1);
    for (int i = 0; i < runs; ++i) {
        const bool evict = i % 2 == 1;
        if (evict && !evictFromPageCache(file)) std::printf("could not evict %s from the page cache\n", file);
        const Clock::time_point before = Clock::now();
        quarvel::SoundtrackPlayer player(file);
        (evict ? buildEvicted : buildCached).push_back(ms(Clock::now() - before));
        if (player.mediaControl.graph == nullptr) return 1;
        if (SDL_GetCurrentAudioDriver() != nullptr) driver = SDL_GetCurrentAudioDriver();

        // the output runs idle for a while first; the random part spreads Run over a buffer period
        std::this_thread::sleep_for(std::chrono::microseconds(100'000 + random() % 93'000));
        const Clock::time_point run = Clock::now();
        player.run();
        runToSound.push_back(ms(Clock::now() - run));
        player.release();
    }

    std::printf("audio driver: %s\n", driver.c_str());
    printSpread("construction, file in the page cache", buildCached);
    if (!buildEvicted.empty())
        printSpread("construction, file evicted from the page cache first", buildEvicted);
    printSpread("Run, until the first sample is heard", runToSound);
    return 0;
}

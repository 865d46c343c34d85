// quarvel-sound-file-probe FILE.mp3 SECONDS: plays FILE through the desktop's media service as the
// demo does, from Run on, and releases the output SECONDS later, for the sound tests to see what
// reached the sound server.
#include "audio/soundtrack_player.h"

#include <chrono>
#include <cstdlib>
#include <thread>

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    quarvel::SoundtrackPlayer player(argv[1]);
    player.run();
    std::this_thread::sleep_for(std::chrono::duration<double>(std::atof(argv[2])));
    player.release();
    return 0;
}

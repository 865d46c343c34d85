// How long generating the soundtrack takes, stage by stage, over a few runs.
#include "base/exit_status.h"
#include "soundtrack/composition.h"
#include "soundtrack/soundtrack.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
    int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    std::vector<double> totals;
    for (int run = 0; run < runs; ++run) {
        quarvel::Soundtrack soundtrack = quarvel::produceSoundtrack();
        if (!soundtrack.encoded.ok) {
            std::fprintf(stderr, "soundtrack generation bench: %s\n", soundtrack.encoded.message.c_str());
            return quarvel::exitFailure;
        }
        double total = soundtrack.renderSeconds + soundtrack.masterSeconds + soundtrack.encodeSeconds;
        totals.push_back(total);
        std::printf("run %d: synthesis %.2f s, master %.2f s, mp3 %.2f s, total %.2f s (%.0fx real time)\n",
                    run + 1, soundtrack.renderSeconds, soundtrack.masterSeconds, soundtrack.encodeSeconds,
                    total, quarvel::trackSeconds / total);
    }
    std::sort(totals.begin(), totals.end());
    std::printf("soundtrack generation: best %.2f s, median %.2f s over %d runs for %.0f s of audio\n",
                totals.front(), totals[totals.size() / 2], runs, quarvel::trackSeconds);
    return quarvel::exitSuccess;
}

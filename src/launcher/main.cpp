// Entry point of the demo. It reads no command line: every constant of the show is built in.
#include "launcher/run_sequence.h"

int main() {
    return quarvel::runDemo();
}

// quarvel-glsl-es: writes the GLSL ES 3.00 form of one of the show's fragment sources, for the
// browser build. Usage: quarvel-glsl-es INPUT OUTPUT
#include "base/exit_status.h"
#include "glsl_es/glsl_es.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

int main(int argc, char** argv) {
    using namespace quarvel;
    if (argc != 3) {
        std::fprintf(stderr, "usage: quarvel-glsl-es INPUT OUTPUT\n");
        return exitUsage;
    }
    std::ifstream input(argv[1], std::ios::binary);
    if (!input) {
        std::fprintf(stderr, "quarvel-glsl-es: %s cannot be read\n", argv[1]);
        return exitFailure;
    }
    std::ostringstream text;
    text << input.rdbuf();

    const GlslEsResult es = translateToGlslEs(text.str());
    if (!es.status.ok) {
        std::fprintf(stderr, "quarvel-glsl-es: %s: %s\n", argv[1], es.status.message.c_str());
        return exitFailure;
    }
    std::ofstream output(argv[2], std::ios::binary | std::ios::trunc);
    output << es.text;
    output.close();
    if (!output) {
        std::fprintf(stderr, "quarvel-glsl-es: %s cannot be written\n", argv[2]);
        return exitFailure;
    }
    return exitSuccess;
}

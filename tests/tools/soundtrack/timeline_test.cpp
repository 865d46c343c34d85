// The show's timeline header against the shaders, which write the same marks in GLSL: the
// soundtrack follows the header, so a mark that differs from the picture's would put it out of step.
#include "base/show_timeline.h"

#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>

namespace quarvel {
namespace {

std::string shaderSource(const std::string& name) {
    std::ifstream in(std::string(QUARVEL_SHADER_DIR) + "/" + name);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// `format` with the two numbers, as the shader writes them
std::string written(const char* format, double a, double b = 0.0) {
    char text[96];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

TEST(ShowTimeline, HoldsTheMarksTheShadersUse) {
    const std::string scene = shaderSource("scene.frag");
    const std::string feedback = shaderSource("feedback.frag");
    ASSERT_FALSE(scene.empty());
    ASSERT_FALSE(feedback.empty());
    struct Case {
        const char* name;
        const std::string& source;
        std::string text;
    };
    const char* ramp = "smoothstep(%.1f, %.1f, time)";
    const Case cases[] = {
        {"glitchIn", scene, written(ramp, timeline::glitchIn.begin, timeline::glitchIn.end)},
        {"glitchOut", scene, written(ramp, timeline::glitchOut.begin, timeline::glitchOut.end)},
        {"drop", scene, written(ramp, timeline::drop.begin, timeline::drop.end)},
        {"middleIn", scene, written(ramp, timeline::middleIn.begin, timeline::middleIn.end)},
        {"middleOut", scene, written(ramp, timeline::middleOut.begin, timeline::middleOut.end)},
        {"pulseEnd", scene, written(ramp, timeline::pulseEnd.begin, timeline::pulseEnd.end)},
        {"swell", scene, written(ramp, timeline::swell.begin, timeline::swell.end)},
        {"cycleSeconds", scene, written("1.0 / %.2f;", timeline::cycleSeconds)},
        {"secondJumpSeconds", scene, written("(time - %.1f)", timeline::secondJumpSeconds)},
        {"thirdJumpSeconds", scene, written("(time - %.1f)", timeline::thirdJumpSeconds)},
        // the feedback's own time runs at 0.3 per clock second after its speed-up
        {"feedbackSpeedUp", feedback,
         written("smoothstep(%.1f,%.1f,float(T)*0.001)", timeline::feedbackSpeedUp.begin,
                 timeline::feedbackSpeedUp.end)},
        {"flowScale", feedback,
         written("smoothstep(%.0f.*0.3, %.0f.*0.3, time)", timeline::flowScale.begin,
                 timeline::flowScale.end)},
    };
    for (const Case& c : cases) {
        EXPECT_NE(c.source.find(c.text), std::string::npos) << c.name << ": no '" << c.text << "'";
    }
    EXPECT_EQ(timeline::endSeconds * 1000.0, runLengthMs);
}

}  // namespace
}  // namespace quarvel

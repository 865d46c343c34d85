#include "platform/web/uniform_locations.h"

#include <algorithm>
#include <regex>

namespace quarvel::platform::webgl {

std::vector<UniformLocation> takeUniformLocations(std::string& source) {
    static const std::regex declaration(
        R"(([ \t]*)layout\(location = ([0-9]+)\) (uniform [A-Za-z0-9_]+ ([A-Za-z_][A-Za-z0-9_]*);.*))");
    std::vector<UniformLocation> uniforms;
    std::string taken;
    std::size_t at = 0;
    while (at < source.size()) {
        const std::size_t end = std::min(source.find('\n', at), source.size());
        const std::string line = source.substr(at, end - at);
        std::smatch m;
        if (std::regex_match(line, m, declaration)) {
            taken += m[1].str() + m[3].str();
            uniforms.push_back({m[4].str(), std::stoi(m[2].str())});
        } else {
            taken += line;
        }
        if (end < source.size()) taken += '\n';
        at = end + 1;
    }
    source = std::move(taken);
    return uniforms;
}

}  // namespace quarvel::platform::webgl

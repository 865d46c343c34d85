// The one way a runtime failure travels in the program and its tools: ok, or a message for the
// user. A default Status is a failure, so a forgotten assignment never reads as success.
#pragma once

#include <string>
#include <utility>

namespace quarvel {

struct [[nodiscard]] Status {
    bool ok = false;
    std::string message;  // when !ok: what went wrong, one line for the user
};

inline Status success() {
    return {true, {}};
}

inline Status failure(std::string message) {
    return {false, std::move(message)};
}

}  // namespace quarvel

#!/usr/bin/env bash
# Builds the browser version into build/web/: index.html, quarvel.js, quarvel.wasm and audio.mp3,
# a folder that any static web server can host (python3 -m http.server in it is enough).
# The host release build comes first: it makes audio.mp3 and quarvel-glsl-es, which turns the
# shader files into GLSL ES for WebGL2 while the browser build is made, and the two programs the
# browser tests and benchmark set the page against (quarvel-capture, quarvel-bench-pipeline).
. "$(dirname "$0")/host_build.sh"
host_build --web quarvel-audio quarvel-glsl-es quarvel-capture quarvel-bench-pipeline
# emscripten's JavaScript optimiser finds Debian's acorn only there when the node on PATH is
# not Debian's
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}
cmake --preset web >/dev/null
cmake --build --preset web -j"$jobs"
echo "built $root/build/web: serve it with (cd build/web && python3 -m http.server) and open http://localhost:8000/"

# Turns the shader files into one C++ source of string constants, inserting noise.glsl where a
# source has the line: #include "noise.glsl"
# Run as: cmake -DSHADER_DIR=<dir> -DOUTPUT=<file.cpp> -P embed_shaders.cmake

file(READ ${SHADER_DIR}/noise.glsl noise)

function(embed_one var file)
  file(READ ${SHADER_DIR}/${file} text)
  string(REPLACE "#include \"noise.glsl\"\n" "${noise}" text "${text}")
  string(FIND "${text}" "#include" leftover)
  if(NOT leftover EQUAL -1)
    message(FATAL_ERROR "${file}: an #include that the embedder does not know")
  endif()
  string(FIND "${text}" ")glsl\"" clash)
  if(NOT clash EQUAL -1)
    message(FATAL_ERROR "${file}: contains the raw-string delimiter )glsl\"")
  endif()
  set(${var} "${text}" PARENT_SCOPE)
endfunction()

embed_one(scene scene.frag)
embed_one(feedback feedback.frag)
embed_one(post post.frag)

set(content "// Generated from src/shaders by cmake/embed_shaders.cmake; do not edit.
#include \"shaders/shader_sources.h\"

namespace quarvel::shaders {

const char* const sceneSource = R\"glsl(${scene})glsl\";
const char* const feedbackSource = R\"glsl(${feedback})glsl\";
const char* const postSource = R\"glsl(${post})glsl\";
const char* const noiseSource = R\"glsl(${noise})glsl\";

}  // namespace quarvel::shaders
")

# rewrite only on change so dependants are not rebuilt for nothing
if(EXISTS ${OUTPUT})
  file(READ ${OUTPUT} old)
  if(old STREQUAL content)
    return()
  endif()
endif()
file(WRITE ${OUTPUT} "${content}")

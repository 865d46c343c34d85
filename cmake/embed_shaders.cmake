# Turns the shader files into one C++ source of string constants, inserting noise.glsl where a
# source has the line: #include "noise.glsl", and the show's timeline marks, as
# base/show_timeline.h states them, where it has: #include "timeline.glsl"; and writes a header of
# each program's uniforms (location, name and declaration) read from the sources'
# layout(location = N) lines, so the host never types a location or a mark again.
# Run as: cmake -DSHADER_DIR=<dir> -DOUTPUT=<file.cpp> [-DINTERFACE=<file.h>] [-DTEXT_DIR=<dir>]
#   [-DTIMELINE=<show_timeline.h>] -P embed_shaders.cmake
# TEXT_DIR holds other forms of the .frag files (the browser build's GLSL ES ones) to embed in
# place of SHADER_DIR's; the uniforms are always read from SHADER_DIR, the files that state the
# locations the host binds.
cmake_minimum_required(VERSION 3.25)

if(NOT DEFINED TEXT_DIR)
  set(TEXT_DIR ${SHADER_DIR})
endif()
if(NOT DEFINED TIMELINE)
  set(TIMELINE ${SHADER_DIR}/../base/show_timeline.h)
endif()

file(READ ${SHADER_DIR}/noise.glsl noise)
file(READ ${SHADER_DIR}/fullscreen.vert fullscreen)

# The timeline's marks as GLSL constants: each ShowRamp as a vec2 (begin, end), each number of
# seconds written as a literal as a float. The header is their one source.
file(STRINGS ${TIMELINE} marks REGEX "^inline constexpr (ShowRamp|double) ")
set(timeline "// the show's timeline, from base/show_timeline.h\n")
foreach(line IN LISTS marks)
  if(line MATCHES "^inline constexpr ShowRamp ([A-Za-z]+)\\{([0-9]+\\.[0-9]+), ([0-9]+\\.[0-9]+)\\};")
    string(APPEND timeline "const vec2 ${CMAKE_MATCH_1} = vec2(${CMAKE_MATCH_2}, ${CMAKE_MATCH_3});\n")
  elseif(line MATCHES "^inline constexpr double ([A-Za-z]+) = ([0-9]+\\.[0-9]+);")
    string(APPEND timeline "const float ${CMAKE_MATCH_1} = ${CMAKE_MATCH_2};\n")
  endif()
endforeach()

function(embed_one var file)
  file(READ ${TEXT_DIR}/${file} text)
  string(REPLACE "#include \"noise.glsl\"\n" "${noise}" text "${text}")
  string(REPLACE "#include \"timeline.glsl\"\n" "${timeline}" text "${text}")
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

# The uniforms of one program as C++ constants. Every uniform must have an explicit location,
# and no two may share one: the host binds by these numbers.
function(interface_of var program file)
  file(STRINGS ${SHADER_DIR}/${file} lines REGEX "uniform")
  set(constants "")
  set(names "")
  set(declarations "")
  set(seen "")
  foreach(line IN LISTS lines)
    string(STRIP "${line}" line)
    if(NOT line MATCHES "^layout\\(location = ([0-9]+)\\) uniform ([A-Za-z0-9_]+) ([A-Za-z_][A-Za-z0-9_]*);$")
      message(FATAL_ERROR "${file}: a uniform without the form 'layout(location = N) uniform TYPE NAME;': ${line}")
    endif()
    set(location ${CMAKE_MATCH_1})
    set(name ${CMAKE_MATCH_3})
    if(location IN_LIST seen)
      message(FATAL_ERROR "${file}: two uniforms at location ${location}")
    endif()
    list(APPEND seen ${location})
    string(APPEND constants "inline constexpr Uniform ${name}{${location}, \"${name}\"};\n")
    list(APPEND names ${name})
    string(APPEND declarations "\"${line}\\n\"\n    ")
  endforeach()
  if(names STREQUAL "")
    message(FATAL_ERROR "${file}: no uniforms")
  endif()
  list(JOIN names ", " list)
  set(${var} "namespace ${program} {
${constants}inline constexpr Uniform uniforms[] = {${list}};
// the declarations as the source has them, for shaders that stand in for this program
inline constexpr const char* uniformDeclarations =
    ${declarations};
}  // namespace ${program}
" PARENT_SCOPE)
endfunction()

embed_one(scene scene.frag)
# the version line says which GL the sources need
if(scene MATCHES "^#version 300 es")
  set(target "{true, 3, 0}")
elseif(scene MATCHES "^#version 430")
  set(target "{false, 4, 3}")
else()
  message(FATAL_ERROR "scene.frag: a version line other than #version 430 or #version 300 es")
endif()
embed_one(feedback feedback.frag)
embed_one(post post.frag)

set(content "// Generated from src/shaders by cmake/embed_shaders.cmake; do not edit.
#include \"shaders/shader_sources.h\"

namespace quarvel::shaders {

const GlslTarget sourcesTarget = ${target};
const char* const sceneSource = R\"glsl(${scene})glsl\";
const char* const feedbackSource = R\"glsl(${feedback})glsl\";
const char* const postSource = R\"glsl(${post})glsl\";
const char* const noiseSource = R\"glsl(${noise})glsl\";
const char* const fullScreenVertexSource = R\"glsl(${fullscreen})glsl\";

}  // namespace quarvel::shaders
")

interface_of(scene_interface scene scene.frag)
interface_of(feedback_interface feedback feedback.frag)
interface_of(post_interface post post.frag)
set(interface "// Generated from src/shaders by cmake/embed_shaders.cmake; do not edit.
// Each program's uniforms, read from its source's layout(location = N) lines.
#pragma once

#include <cstdint>

namespace quarvel::shaders {

struct Uniform {
    int32_t location;
    const char* name;
};

${scene_interface}
${feedback_interface}
${post_interface}
}  // namespace quarvel::shaders
")

# rewrite only on change so dependants are not rebuilt for nothing
function(write_if_changed path text)
  if(EXISTS ${path})
    file(READ ${path} old)
    if(old STREQUAL text)
      return()
    endif()
  endif()
  file(WRITE ${path} "${text}")
endfunction()

write_if_changed(${OUTPUT} "${content}")
if(DEFINED INTERFACE)
  write_if_changed(${INTERFACE} "${interface}")
endif()

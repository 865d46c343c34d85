# The browser build's shaders: each desktop fragment file through quarvel-glsl-es, then embedded
# as the desktop ones are (noise.glsl inserted) into one generated C++ source. Nothing of it is
# written by hand: the files in src/shaders are the only sources.
#   quarvel_embed_glsl_es(<output.cpp> <tool>)
# <tool> is the quarvel-glsl-es target of this build, or the path of a host build's program when
# this build cannot run its own (a cross build).
function(quarvel_embed_glsl_es output tool)
  set(shader_dir ${PROJECT_SOURCE_DIR}/src/shaders)
  get_filename_component(out_dir ${output} DIRECTORY)
  set(es_dir ${out_dir}/glsl_es)
  file(MAKE_DIRECTORY ${es_dir})
  if(TARGET ${tool})
    set(tool_command $<TARGET_FILE:${tool}>)
  else()
    set(tool_command ${tool})
  endif()
  set(es_files "")
  foreach(name scene feedback post)
    add_custom_command(
      OUTPUT ${es_dir}/${name}.frag
      COMMAND ${tool_command} ${shader_dir}/${name}.frag ${es_dir}/${name}.frag
      DEPENDS ${shader_dir}/${name}.frag ${tool}
      COMMENT "GLSL ES 3.00 form of ${name}.frag"
      VERBATIM)
    list(APPEND es_files ${es_dir}/${name}.frag)
  endforeach()
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -DSHADER_DIR=${shader_dir} -DTEXT_DIR=${es_dir} -DOUTPUT=${output}
            -P ${PROJECT_SOURCE_DIR}/cmake/embed_shaders.cmake
    DEPENDS ${es_files} ${shader_dir}/noise.glsl ${shader_dir}/fullscreen.vert
            ${PROJECT_SOURCE_DIR}/src/base/show_timeline.h ${PROJECT_SOURCE_DIR}/cmake/embed_shaders.cmake
    COMMENT "Embedding the GLSL ES shader sources"
    VERBATIM)
endfunction()

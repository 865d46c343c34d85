# Writes a gzipped man page: a roff file as it is (SOURCE), or one made by help2man from a
# program's --help and --version (PROGRAM, NAME). Lines of the help that tell about the folder
# help2man runs in (those starting with "Soundtrack here:") are left out.
# Run as: cmake -DOUTPUT=<page.N.gz> [-DSOURCE=<page.N> | -DPROGRAM=<exe> -DNAME=<what> -DSECTION=N
#         -DHELP2MAN=<help2man>] -DGZIP=<gzip> -P man_page.cmake

get_filename_component(page "${OUTPUT}" NAME_WLE)
get_filename_component(folder "${OUTPUT}" DIRECTORY)
set(roff "${folder}/${page}")
if(DEFINED PROGRAM)
  execute_process(COMMAND "${HELP2MAN}" --no-info --section=${SECTION} --name=${NAME} "${PROGRAM}"
                  OUTPUT_VARIABLE text RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "help2man could not read the help of ${PROGRAM}")
  endif()
  string(REGEX REPLACE "(\n\\.PP)?\nSoundtrack here:[^\n]*" "" text "${text}")
  file(WRITE "${roff}" "${text}")
else()
  file(COPY_FILE "${SOURCE}" "${roff}")
endif()
# -n: no name or time stamp inside, so the same page gives the same bytes
execute_process(COMMAND "${GZIP}" -9nf "${roff}" RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "could not compress ${roff}")
endif()

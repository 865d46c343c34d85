# Puts the Windows demo and its soundtrack side by side in one zip, as a viewer unpacks it.
# Run as: cmake -DEXE=<quarvel.exe> -DAUDIO=<audio.mp3> -DZIP=<file.zip> -DMTIME=<date> -P package_zip.cmake
# The entries are dated MTIME (the release's date), so the same build gives the same zip.

if(NOT EXISTS "${AUDIO}")
  message(FATAL_ERROR "no soundtrack at '${AUDIO}': build audio.mp3 on the host first "
                      "(scripts/build-windows.sh does) or set QUARVEL_HOST_SOUNDTRACK")
endif()

get_filename_component(zip_dir "${ZIP}" DIRECTORY)
set(stage "${zip_dir}/zip-stage")
file(REMOVE_RECURSE "${stage}")
file(MAKE_DIRECTORY "${stage}")
file(COPY_FILE "${EXE}" "${stage}/quarvel.exe")
file(COPY_FILE "${AUDIO}" "${stage}/audio.mp3")
file(REMOVE "${ZIP}")
execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf "${ZIP}" --format=zip "--mtime=${MTIME}"
                        audio.mp3 quarvel.exe
                WORKING_DIRECTORY "${stage}" RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "could not write ${ZIP}")
endif()
file(REMOVE_RECURSE "${stage}")

# Adds every sub-folder of the calling folder that has a CMakeLists.txt, so
# each module keeps its benchmarks, tools or fuzz targets in a folder of its own.
function(zv_add_subfolders)
  file(GLOB children LIST_DIRECTORIES true ${CMAKE_CURRENT_SOURCE_DIR}/*)
  foreach(child IN LISTS children)
    if(IS_DIRECTORY ${child} AND EXISTS ${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()

# Helpers that keep every module's CMakeLists.txt to a few lines.

set(ZV_WARNINGS -Wall -Wextra -Wno-unused-parameter)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  # GCC 12 reports false overlaps inside std::string concatenation.
  list(APPEND ZV_WARNINGS -Wno-restrict)
endif()

function(zv_apply_options target)
  target_compile_options(${target} PRIVATE ${ZV_WARNINGS})
  if(ZV_SANITIZE)
    target_compile_options(${target} PRIVATE -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined)
  endif()
  if(ZV_BUILD_FUZZ)
    # Coverage instrumentation for the libraries the fuzz targets link.
    target_compile_options(${target} PRIVATE -fsanitize=fuzzer-no-link)
  endif()
endfunction()

# Removes from the list variable <var> the sources that lie in a sub-folder
# of the calling folder with a CMakeLists.txt of its own (a target of its own).
function(zv_drop_nested_folders var)
  file(GLOB_RECURSE nested CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*/CMakeLists.txt)
  set(kept ${${var}})
  foreach(lists IN LISTS nested)
    get_filename_component(folder ${lists} DIRECTORY)
    list(FILTER kept EXCLUDE REGEX "^${folder}/")
  endforeach()
  set(${var} ${kept} PARENT_SCOPE)
endfunction()

# zv_module(<target> [DEPS <targets...>] [PRIVATE_DEPS <targets...>])
# Builds every .cpp below the calling folder into one static library whose
# headers are included as "<module path>/<Header>.h" from src/. A sub-folder
# with a CMakeLists.txt of its own is a module of its own and is left out.
function(zv_module name)
  cmake_parse_arguments(M "" "" "DEPS;PRIVATE_DEPS" ${ARGN})
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  list(FILTER srcs EXCLUDE REGEX "/main\\.cpp$")
  zv_drop_nested_folders(srcs)
  if(srcs)
    add_library(${name} STATIC ${srcs})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC ${M_DEPS} PRIVATE ${M_PRIVATE_DEPS})
    zv_apply_options(${name})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} INTERFACE ${M_DEPS})
  endif()
endfunction()

# zv_tests(<name> DEPS <targets...>)
# One test program per module: every .cpp below the calling folder, except in
# sub-folders with a test program of their own.
function(zv_tests name)
  cmake_parse_arguments(T "" "" "DEPS" ${ARGN})
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  zv_drop_nested_folders(srcs)
  if(NOT srcs)
    return()
  endif()
  add_executable(${name} ${srcs})
  target_link_libraries(${name} PRIVATE ${T_DEPS} GTest::gmock GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  target_compile_definitions(${name} PRIVATE
    ZV_SOURCE_DIR="${PROJECT_SOURCE_DIR}" ZV_BINARY_DIR="${PROJECT_BINARY_DIR}")
  zv_apply_options(${name})
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
    WORKING_DIRECTORY ${PROJECT_BINARY_DIR}
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()

# zv_bench(<name> <sources...> DEPS <targets...>)
function(zv_bench name)
  cmake_parse_arguments(B "" "" "DEPS" ${ARGN})
  add_executable(${name} ${B_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${B_DEPS} benchmark::benchmark)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src)
  zv_apply_options(${name})
endfunction()

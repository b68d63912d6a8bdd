# tavik_subsystem(NAME DEPS...)
#   Builds every .cpp/.c file of the calling folder into the static library NAME
#   and makes the project root the include root, so headers are included as
#   "dsp/Fft.h", "audiocore/CMeter.h" and so on.
function(tavik_subsystem name)
  file(GLOB _srcs CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.c)
  list(FILTER _srcs EXCLUDE REGEX "/HostExports\\.cpp$")
  if(_srcs)
    add_library(${name} STATIC ${_srcs})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR} ${RAPIDJSON_INCLUDE_DIR})
    target_link_libraries(${name} PUBLIC ${ARGN} Threads::Threads m)
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR} ${RAPIDJSON_INCLUDE_DIR})
    target_link_libraries(${name} INTERFACE ${ARGN} Threads::Threads m)
  endif()
endfunction()

# tavik_tests(LABEL LIBS...)
#   Every test_*.cpp of the calling folder becomes one GoogleTest program,
#   linked to LIBS, registered with CTest under LABEL. Tests run with TZ=UTC
#   unless they set a zone themselves; the macros TAVIK_SOURCE_DIR and
#   TAVIK_BINARY_DIR name the source and build trees.
function(tavik_tests label)
  find_package(GTest REQUIRED)
  file(GLOB _tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/test_*.cpp)
  foreach(_t ${_tests})
    get_filename_component(_n ${_t} NAME_WE)
    set(_exe ${label}_${_n})
    add_executable(${_exe} ${_t})
    target_link_libraries(${_exe} PRIVATE ${ARGN} GTest::gtest GTest::gtest_main GTest::gmock)
    target_include_directories(${_exe} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
    target_compile_definitions(${_exe} PRIVATE
      TAVIK_SOURCE_DIR="${PROJECT_SOURCE_DIR}" TAVIK_BINARY_DIR="${PROJECT_BINARY_DIR}")
    # One label per program (gtest_discover_tests splits list-valued
    # properties): test_*_threads.cpp is labelled "threads" and also runs in
    # the ThreadSanitizer build; test_*_slow.cpp is labelled "slow" and is
    # left out of the sanitizer build; everything else carries its area.
    set(_label ${label})
    if(_n MATCHES "_threads$")
      set(_label threads)
    elseif(_n MATCHES "_slow$")
      set(_label slow)
    endif()
    gtest_discover_tests(${_exe}
      DISCOVERY_TIMEOUT 60
      DISCOVERY_MODE PRE_TEST
      PROPERTIES LABELS ${_label} ENVIRONMENT TZ=UTC)
  endforeach()
endfunction()
include(GoogleTest)

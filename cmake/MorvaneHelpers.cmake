# Helpers shared by every component, test and program.
#
#   morvane_component(NAME md5 SRCS md5.cc)  object library linked into libmorvane
#   morvane_test(NAME md5_test SRCS md5_test.cc)  GoogleTest suite, one process per test,
#     its tests labelled with the suite's name (ctest -L md5_test)
#   morvane_test(NAME aes_test SRCS ... SWITCHES 1 vaes)  ... registered again with
#     MORVANE_NO_HWCRYPT set to each value (names end in ".no_hwcrypt_<value>"),
#     so that it covers the code paths that the hardware code replaces;
#     SWITCH_FILTER "Suite.*:Other.Case" registers only those tests again
#   morvane_program(NAME rmd160 SRCS rmd160.cc)  program linked against libmorvane
#   morvane_error_table(bio bio.errors)  generates <lib>_err_data.inc for a component

set(MORVANE_WARN_FLAGS -Wall -Wextra)
if(MORVANE_WERROR)
  list(APPEND MORVANE_WARN_FLAGS -Werror)
endif()
set(MORVANE_SAN_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
# MORVANE_TSAN swaps ThreadSanitizer in for them (and builds no unsanitized twin).
set(MORVANE_SANITIZED ${MORVANE_SANITIZE})
if(MORVANE_TSAN)
  set(MORVANE_SAN_FLAGS -fsanitize=thread -fno-omit-frame-pointer)
  set(MORVANE_SANITIZED ON)
endif()
# The constant-time harness (test/ct/) runs an unsanitized twin of the
# library under valgrind; it issues memcheck's requests itself (x86-64).
set(MORVANE_CT_HARNESS OFF)
if(MORVANE_BUILD_TESTS AND MORVANE_SANITIZED AND NOT MORVANE_TSAN
   AND CMAKE_SYSTEM_PROCESSOR MATCHES "x86_64|AMD64")
  find_program(MORVANE_VALGRIND valgrind)
  if(MORVANE_VALGRIND)
    set(MORVANE_CT_HARNESS ON)
  endif()
endif()
set(MORVANE_GENERATED_DIR "${CMAKE_BINARY_DIR}/generated")
file(MAKE_DIRECTORY "${MORVANE_GENERATED_DIR}")

# Flags for code that goes into the library.  `variant` is SAN (sanitized when
# MORVANE_SANITIZE is on) or PLAIN (never sanitized).
function(morvane_library_flags tgt variant)
  target_compile_options(${tgt} PRIVATE ${MORVANE_WARN_FLAGS}
    $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti>
    "-fmacro-prefix-map=${CMAKE_SOURCE_DIR}/crypto/=")
  set_target_properties(${tgt} PROPERTIES POSITION_INDEPENDENT_CODE ON
    C_VISIBILITY_PRESET hidden CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  target_include_directories(${tgt} PRIVATE ${CMAKE_SOURCE_DIR}/include
    ${CMAKE_SOURCE_DIR}/crypto ${MORVANE_GENERATED_DIR})
  target_compile_definitions(${tgt} PRIVATE MORVANE_BUILDING_LIBRARY)
  if(variant STREQUAL "SAN" AND MORVANE_SANITIZED)
    target_compile_options(${tgt} PRIVATE ${MORVANE_SAN_FLAGS})
  endif()
  # The unsanitized twin is what the constant-time harness runs under
  # valgrind: it marks the values its checks make public as defined.
  if(variant STREQUAL "PLAIN" AND MORVANE_CT_HARNESS)
    target_compile_definitions(${tgt} PRIVATE
      "MORVANE_CT_DECLASSIFY_HEADER=\"${CMAKE_SOURCE_DIR}/test/ct/declassify.h\"")
  endif()
endfunction()

# Flags for code outside the library (tests, programs, benchmarks).
function(morvane_client_flags tgt)
  target_compile_options(${tgt} PRIVATE ${MORVANE_WARN_FLAGS}
    $<$<COMPILE_LANGUAGE:CXX>:-Wno-missing-field-initializers>)
  if(MORVANE_SANITIZED)
    target_compile_options(${tgt} PRIVATE ${MORVANE_SAN_FLAGS})
    target_link_options(${tgt} PRIVATE ${MORVANE_SAN_FLAGS})
  endif()
endfunction()

# A component: its sources become an object library that the one shared
# library links.  GENERATED names targets that must run first (table generators).
function(morvane_component)
  cmake_parse_arguments(C "" "NAME" "SRCS;DEPENDS" ${ARGN})
  add_library(morvane_obj_${C_NAME} OBJECT ${C_SRCS})
  morvane_library_flags(morvane_obj_${C_NAME} SAN)
  if(C_DEPENDS)
    add_dependencies(morvane_obj_${C_NAME} ${C_DEPENDS})
  endif()
  set_property(GLOBAL APPEND PROPERTY MORVANE_COMPONENTS ${C_NAME})
  if(MORVANE_SANITIZE)
    # An unsanitized twin, linked into plain/libmorvane.so for the checks on the
    # library's shape (exports, initialisers, needed libraries).
    add_library(morvane_plainobj_${C_NAME} OBJECT ${C_SRCS})
    morvane_library_flags(morvane_plainobj_${C_NAME} PLAIN)
    if(C_DEPENDS)
      add_dependencies(morvane_plainobj_${C_NAME} ${C_DEPENDS})
    endif()
  endif()
endfunction()

# Sets `out` to the absolute paths of every component's sources, for a
# target that compiles the library's code once more outside crypto/ (the fuzz
# build).  The per-file options a component sets where it lists its sources
# (the instruction-set flags of the hardware paths) belong to that directory
# only, so they are copied into the calling directory with the files.
function(morvane_library_sources out)
  get_property(_components GLOBAL PROPERTY MORVANE_COMPONENTS)
  set(_all "")
  foreach(_c ${_components})
    get_target_property(_srcs morvane_obj_${_c} SOURCES)
    get_target_property(_dir morvane_obj_${_c} SOURCE_DIR)
    foreach(_s ${_srcs})
      get_filename_component(_abs "${_s}" ABSOLUTE BASE_DIR "${_dir}")
      get_source_file_property(_opts "${_abs}" DIRECTORY "${_dir}" COMPILE_OPTIONS)
      if(_opts)
        set_source_files_properties("${_abs}" PROPERTIES COMPILE_OPTIONS "${_opts}")
      endif()
      list(APPEND _all "${_abs}")
    endforeach()
  endforeach()
  set(${out} "${_all}" PARENT_SCOPE)
endfunction()

# A library's error table: generates ${MORVANE_GENERATED_DIR}/<lib>_err_data.inc
# (the ERR_STRING_DATA arrays that its ERR_load_<LIB>_strings registers) from
# <lib>.errors before the component's objects compile.  Call it after
# morvane_component.  The codes in the public header are checked in and kept
# current with `python3 tools/gen_errors.py --update`.
function(morvane_error_table component table)
  get_filename_component(_table "${table}" ABSOLUTE)
  get_filename_component(_lib "${table}" NAME_WE)
  set(_out "${MORVANE_GENERATED_DIR}/${_lib}_err_data.inc")
  set(_gen "${CMAKE_SOURCE_DIR}/tools/gen_errors.py")
  add_custom_command(OUTPUT "${_out}"
    COMMAND ${Python3_EXECUTABLE} "${_gen}" --root "${CMAKE_SOURCE_DIR}" --inc "${_table}"
            --out "${_out}"
    DEPENDS "${_table}" "${_gen}"
    COMMENT "Generating ${_lib}_err_data.inc" VERBATIM)
  add_custom_target(morvane_errors_${_lib} DEPENDS "${_out}")
  foreach(_prefix morvane_obj_ morvane_plainobj_)
    if(TARGET ${_prefix}${component})
      add_dependencies(${_prefix}${component} morvane_errors_${_lib})
    endif()
  endforeach()
endfunction()

# Test code is compiled with less optimisation than the library: the suites
# spend their time in the library, and at the build type's -O2 the sanitized
# test sources took most of the build.  Library sources compiled into a test
# program keep the build type's level.
set(MORVANE_TEST_CODE_FLAGS -O1)
function(morvane_test_code_flags)
  foreach(_src ${ARGN})
    if(_src MATCHES "^\\$<")  # objects of another target
      continue()
    endif()
    get_filename_component(_abs ${_src} ABSOLUTE)
    if(NOT _abs MATCHES "^${CMAKE_SOURCE_DIR}/crypto/")
      set_property(SOURCE ${_src} PROPERTY COMPILE_OPTIONS ${MORVANE_TEST_CODE_FLAGS})
    endif()
  endforeach()
endfunction()

function(morvane_test)
  cmake_parse_arguments(T "" "NAME;SWITCH_FILTER" "SRCS;LIBS;SWITCHES" ${ARGN})
  add_executable(${T_NAME} ${T_SRCS} ${CMAKE_SOURCE_DIR}/test/support/test_main.cc)
  target_link_libraries(${T_NAME} PRIVATE morvane morvane_test_support GTest::gtest
    Threads::Threads ${T_LIBS})
  morvane_client_flags(${T_NAME})
  morvane_test_code_flags(${T_SRCS} ${CMAKE_SOURCE_DIR}/test/support/test_main.cc)
  gtest_discover_tests(${T_NAME} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
    PROPERTIES TIMEOUT 300 LABELS ${T_NAME})
  set(_filter)
  if(T_SWITCH_FILTER)
    set(_filter TEST_FILTER "${T_SWITCH_FILTER}")
  endif()
  foreach(_switch ${T_SWITCHES})
    gtest_discover_tests(${T_NAME} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120 ${_filter}
      TEST_SUFFIX ".no_hwcrypt_${_switch}"
      PROPERTIES TIMEOUT 300 LABELS ${T_NAME} ENVIRONMENT "MORVANE_NO_HWCRYPT=${_switch}")
  endforeach()
endfunction()

function(morvane_program)
  cmake_parse_arguments(P "" "NAME" "SRCS" ${ARGN})
  add_executable(${P_NAME} ${P_SRCS})
  target_link_libraries(${P_NAME} PRIVATE morvane)
  morvane_client_flags(${P_NAME})
  # Installed, the program finds the library it was installed with through a
  # run path relative to itself, wherever the prefix is.
  file(RELATIVE_PATH _rel "${CMAKE_INSTALL_FULL_BINDIR}" "${CMAKE_INSTALL_FULL_LIBDIR}")
  set_target_properties(${P_NAME} PROPERTIES INSTALL_RPATH "$ORIGIN/${_rel}")
  install(TARGETS ${P_NAME} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endfunction()

# Lays out installed trees whose library folder lies at several depths and
# checks that the pkg-config file of each names that tree's include and
# library folders.  Run as
#   cmake -DSRC=<source dir> -DWORK=<scratch dir> -P pc_prefix.cmake
include(${SRC}/cmake/MorvanePkgConfig.cmake)
find_program(PKG_CONFIG pkg-config REQUIRED)
set(PROJECT_VERSION 0.0.0)
foreach(libdir lib lib64 lib/x86_64-linux-gnu)
  string(REPLACE "/" "_" tag ${libdir})
  set(CMAKE_INSTALL_PREFIX ${WORK}/${tag})
  set(CMAKE_INSTALL_FULL_LIBDIR ${CMAKE_INSTALL_PREFIX}/${libdir})
  set(CMAKE_INSTALL_FULL_INCLUDEDIR ${CMAKE_INSTALL_PREFIX}/include)
  file(REMOVE_RECURSE ${CMAKE_INSTALL_PREFIX})
  file(MAKE_DIRECTORY ${CMAKE_INSTALL_PREFIX}/include/morvane ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig)
  morvane_configure_pc(${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig/morvane.pc)
  foreach(pair "includedir;${CMAKE_INSTALL_PREFIX}/include" "libdir;${CMAKE_INSTALL_FULL_LIBDIR}")
    list(GET pair 0 var)
    list(GET pair 1 want)
    set(ENV{PKG_CONFIG_PATH} ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig)
    execute_process(COMMAND ${PKG_CONFIG} --variable=${var} morvane
      OUTPUT_VARIABLE got OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE rc)
    file(REAL_PATH "${got}" got_real)
    file(REAL_PATH "${want}" want_real)
    if(NOT rc EQUAL 0 OR NOT got_real STREQUAL want_real)
      message(FATAL_ERROR "library folder ${libdir}: ${var} is ${got}, not ${want}")
    endif()
  endforeach()
endforeach()
message(STATUS "pkg-config paths right for lib, lib64 and lib/x86_64-linux-gnu")

# The pkg-config file, relocatable: it finds the prefix from its own folder
# (${pcfiledir}), however deep the library folder lies under the prefix (lib,
# lib64, lib/x86_64-linux-gnu).  Reads CMAKE_INSTALL_PREFIX,
# CMAKE_INSTALL_FULL_LIBDIR, CMAKE_INSTALL_FULL_INCLUDEDIR and
# PROJECT_VERSION.
function(morvane_configure_pc out)
  file(RELATIVE_PATH MORVANE_PC_TO_PREFIX "${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig"
    "${CMAKE_INSTALL_PREFIX}")
  file(RELATIVE_PATH MORVANE_PC_LIBDIR "${CMAKE_INSTALL_PREFIX}" "${CMAKE_INSTALL_FULL_LIBDIR}")
  file(RELATIVE_PATH MORVANE_PC_INCLUDEDIR "${CMAKE_INSTALL_PREFIX}"
    "${CMAKE_INSTALL_FULL_INCLUDEDIR}")
  configure_file(${CMAKE_CURRENT_FUNCTION_LIST_DIR}/morvane.pc.in ${out} @ONLY)
endfunction()

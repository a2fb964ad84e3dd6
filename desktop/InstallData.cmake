# Runs at install time, after the executable is in APP_DIR. The program keeps
# its state beside itself: the user's ticks in cdl/data/, and the databases
# and version.ini that an update brought. So a file already in the installed
# folder is kept, and only what is missing is copied from SAMPLE_DIR.
set(app "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${APP_DIR}")
file(MAKE_DIRECTORY "${app}/cdl/data")
file(GLOB databases RELATIVE "${SAMPLE_DIR}" "${SAMPLE_DIR}/cdl/*.cdl")
foreach(name version.ini ${databases})
  set(target "${app}/${name}")
  if(EXISTS "${target}" OR IS_SYMLINK "${target}")
    message(STATUS "Kept (already there): ${target}")
  else()
    message(STATUS "Installing: ${target}")
    file(COPY_FILE "${SAMPLE_DIR}/${name}" "${target}")
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${target}")
  endif()
endforeach()

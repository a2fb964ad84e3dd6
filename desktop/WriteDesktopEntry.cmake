# Writes the menu entry for the program installed at LAUNCHER, from TEMPLATE
# to OUTPUT. Runs in script mode, at install time, when the prefix is known.
foreach(var TEMPLATE OUTPUT LAUNCHER)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "WriteDesktopEntry.cmake: ${var} is not set")
  endif()
endforeach()
if(LAUNCHER MATCHES "[\r\n]")
  message(FATAL_ERROR "A menu entry can't start a program whose path holds a line end: ${LAUNCHER}")
endif()

# Exec takes a quoted argument: inside the quotes " ` $ and \ are escaped by a
# backslash, and every backslash of the value is escaped once more; % is doubled.
set(exec "${LAUNCHER}")
string(REPLACE "\\" "\\\\\\\\" exec "${exec}")
foreach(c "\"" "`" "$")
  string(REPLACE "${c}" "\\\\${c}" exec "${exec}")
endforeach()
string(REPLACE "%" "%%" exec "${exec}")
set(TIRMO_DESKTOP_EXEC "\"${exec}\"")
# GLib looks for the program named first in Exec before it turns %% into %,
# so it finds no program whose path holds a %: env is started instead, with
# the program's path as its argument.
if(LAUNCHER MATCHES "%")
  set(TIRMO_DESKTOP_EXEC "env ${TIRMO_DESKTOP_EXEC}")
endif()
string(REPLACE "\\" "\\\\" TIRMO_DESKTOP_TRYEXEC "${LAUNCHER}")
configure_file("${TEMPLATE}" "${OUTPUT}" @ONLY)

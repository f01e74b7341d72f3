# Writes Hostally's desktop entry from TEMPLATE to OUTPUT for the program at
# PROGRAM (an absolute path, quoted and escaped here as desktop entries need).
# Run with cmake -DTEMPLATE=... -DPROGRAM=... -DOUTPUT=... -P.
if(NOT DEFINED TEMPLATE OR NOT DEFINED PROGRAM OR NOT DEFINED OUTPUT)
  message(FATAL_ERROR
    "usage: cmake -DTEMPLATE=file -DPROGRAM=path -DOUTPUT=file -P write_desktop_entry.cmake")
endif()

# Exec: the path in double quotes, with \ " ` $ escaped inside them and % doubled.
set(exec "${PROGRAM}")
foreach(c "\\" "\"" "`" "$")
  string(REPLACE "${c}" "\\${c}" exec "${exec}")
endforeach()
string(REPLACE "%" "%%" exec "\"${exec}\"")
# Both keys are strings of the desktop file too, whose escape is the backslash.
string(REPLACE "\\" "\\\\" EXEC "${exec}")
string(REPLACE "\\" "\\\\" TRY_EXEC "${PROGRAM}")

configure_file("${TEMPLATE}" "${OUTPUT}" @ONLY)

# Copies SRC to DST only when DST does not exist yet, so a user's data.txt is
# never replaced by the example. Run with cmake -DSRC=... -DDST=... -P.
if(NOT DEFINED SRC OR NOT DEFINED DST)
  message(FATAL_ERROR "usage: cmake -DSRC=file -DDST=file -P copy_if_missing.cmake")
endif()
if(NOT EXISTS "${DST}" AND NOT IS_SYMLINK "${DST}")
  get_filename_component(dir "${DST}" DIRECTORY)
  file(MAKE_DIRECTORY "${dir}")
  file(COPY_FILE "${SRC}" "${DST}")
endif()

# Copies SRC to DST unless DST is there: a file the user edits beside the programs is not
# replaced by the shipped one on the next build.
if(NOT EXISTS "${DST}")
    configure_file("${SRC}" "${DST}" COPYONLY)
endif()

# The same commit gives the same bytes in any folder and at any time: the
# source and build folders are mapped away from the objects (file names in
# debug data and __FILE__), and the Windows executable carries no link time,
# so the checksum in its header follows from its contents alone. It carries
# no symbols either: so it ends on its file alignment, and a signature
# appended and removed again gives back the same bytes.
add_compile_options("$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_SOURCE_DIR}=.>"
                    "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_BINARY_DIR}=build>")
if(WIN32)
  add_link_options(-Wl,--no-insert-timestamp -s)
endif()

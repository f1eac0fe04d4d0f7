# Writes the set of new files that the recipes' tests update a folder with: Tavelune.exe (the
# argument reporter's bytes), files whose names cmd would expand or parse, and enough others that
# an update takes a while to swap. WIDE_SET gets the same set and a name that no ANSI code page
# holds, for the example NSIS updater, which packs its files when it is built.
#   cmake -DREPORTER=argument_reporter.exe -DSET=update-set -DWIDE_SET=update-set-wide
#         -P update-set.cmake
file(REMOVE_RECURSE ${SET})
file(MAKE_DIRECTORY ${SET})
file(COPY_FILE ${REPORTER} ${SET}/Tavelune.exe)
foreach(name IN ITEMS "x%result%y.dll" "x0y.dll" "a^b!c&(d) e.dll")
  file(WRITE "${SET}/${name}" "new ${name}\n")
endforeach()
foreach(number RANGE 100 299)
  file(WRITE ${SET}/lib${number}.dll "new lib${number}\n")
endforeach()
file(REMOVE_RECURSE ${WIDE_SET})
file(COPY ${SET}/ DESTINATION ${WIDE_SET})
file(WRITE "${WIDE_SET}/gő.dll" "new gő.dll\n")

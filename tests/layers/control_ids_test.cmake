# The settings file stores each choice as its dialog button's id (base/option_ids.h, and the
# dialogs' own control ids in dialogs/control_ids.h). Only the two edges read them: settings/,
# which maps the record's values to and from the file's words, and dialogs/, whose buttons they
# are. Everything else takes the record's values, so no file of the core below the settings,
# of the tool, the modes or the program's shell may include the ids, name one, or read a
# choice field of the record. Run by ctest with SOURCE_DIR.
set(folders analysis audio base cli display meter output pipeline modes app)
set(id_headers ${SOURCE_DIR}/src/base/option_ids.h ${SOURCE_DIR}/src/dialogs/control_ids.h)
# Every id's name, read from the headers that define them.
set(names "")
foreach(header IN LISTS id_headers)
  file(STRINGS ${header} definitions REGEX "^inline constexpr [a-z:0-9_]+ [A-Z][A-Z0-9_]+ ")
  foreach(definition IN LISTS definitions)
    string(REGEX REPLACE "^inline constexpr [a-z:0-9_]+ ([A-Z][A-Z0-9_]+) .*" "\\1" name
                         "${definition}")
    list(APPEND names ${name})
  endforeach()
endforeach()
list(LENGTH names count)
if(count LESS 40)
  message(FATAL_ERROR "Read only ${count} ids from the id headers: has their form changed?")
endif()
list(JOIN names "|" alternatives)
set(forbidden
    "option_ids\\.h|dialogs/control_ids\\.h|dialogs/radio_groups\\.h|dialogs/radio_values\\.h|[.>][a-zA-Z]+Choice([^a-zA-Z_]|$)|(^|[^A-Za-z0-9_])(${alternatives})([^A-Za-z0-9_]|$)")
set(found "")
foreach(folder IN LISTS folders)
  file(GLOB_RECURSE files ${SOURCE_DIR}/src/${folder}/*.h ${SOURCE_DIR}/src/${folder}/*.cpp)
  list(REMOVE_ITEM files ${SOURCE_DIR}/src/base/option_ids.h)
  foreach(path IN LISTS files)
    file(STRINGS ${path} lines REGEX "${forbidden}")
    foreach(line IN LISTS lines)
      file(RELATIVE_PATH name ${SOURCE_DIR} ${path})
      string(APPEND found "\n${name}: ${line}")
    endforeach()
  endforeach()
endforeach()
if(found)
  message(FATAL_ERROR "Button ids outside the settings file and the dialogs:${found}")
endif()

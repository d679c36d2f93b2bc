# The settings record's choices are dialog-button ids (base/option_ids.h); only settings/ and the
# desktop (dialogs, commands, modes) read them. The core below the settings and the
# command-line tool take values, so none of their files may include the ids or read a choice
# field of the record. Run by ctest with SOURCE_DIR.
set(folders analysis audio base cli display meter output pipeline)
set(found "")
foreach(folder IN LISTS folders)
  file(GLOB_RECURSE files ${SOURCE_DIR}/src/${folder}/*.h ${SOURCE_DIR}/src/${folder}/*.cpp)
  list(REMOVE_ITEM files ${SOURCE_DIR}/src/base/option_ids.h)
  foreach(path IN LISTS files)
    file(STRINGS ${path} lines REGEX "option_ids\\.h|[.>][a-zA-Z]+Choice([^a-zA-Z_]|$)")
    foreach(line IN LISTS lines)
      file(RELATIVE_PATH name ${SOURCE_DIR} ${path})
      string(APPEND found "\n${name}: ${line}")
    endforeach()
  endforeach()
endforeach()
if(found)
  message(FATAL_ERROR "Button ids outside the settings and the desktop:${found}")
endif()

# cmake --install: every program of tools/ and apps/ into bin/, the shipped data into
# share/velmora/ (the data directory when the user has none of their own, docs/foundation-text.md),
# and the desktop entries and icons of the GUI programs. The library's own rules are in
# api/CMakeLists.txt.
include(GNUInstallDirs)

foreach(group tools apps)
  file(GLOB children LIST_DIRECTORIES true ${CMAKE_SOURCE_DIR}/${group}/*)
  foreach(child ${children})
    if(NOT EXISTS ${child}/CMakeLists.txt)
      continue()
    endif()
    get_property(targets DIRECTORY ${child} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(target ${targets})
      get_target_property(type ${target} TYPE)
      if(type STREQUAL "EXECUTABLE")
        install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
      endif()
    endforeach()
  endforeach()
endforeach()

# The data: everything data/ ships (models, dictionaries, grammars, demo contacts, recordings).
install(DIRECTORY ${CMAKE_SOURCE_DIR}/data/ DESTINATION ${CMAKE_INSTALL_DATADIR}/velmora)

# Desktop entries and icons of the GUI programs. installer is optional: its entry is installed
# with it.
foreach(program namefind enroll installer)
  if(TARGET ${program})
    install(FILES ${CMAKE_SOURCE_DIR}/packaging/${program}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(FILES ${CMAKE_SOURCE_DIR}/packaging/icons/${program}.svg
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps RENAME velmora-${program}.svg)
  endif()
endforeach()

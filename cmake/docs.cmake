# The API reference: `cmake --build BUILD --target docs` writes HTML to
# BUILD/docs/html from include/paloma.h with Debian's doxygen. Any warning (an
# undocumented function, type, macro or parameter; a broken command) fails the
# target.
find_program(PALOMA_DOXYGEN doxygen)
configure_file(${PROJECT_SOURCE_DIR}/docs/Doxyfile.in ${PROJECT_BINARY_DIR}/Doxyfile @ONLY)
if(PALOMA_DOXYGEN)
  add_custom_target(docs
    COMMAND ${PALOMA_DOXYGEN} ${PROJECT_BINARY_DIR}/Doxyfile
    WORKING_DIRECTORY ${PROJECT_BINARY_DIR}
    DEPENDS ${PROJECT_SOURCE_DIR}/include/paloma.h ${PROJECT_SOURCE_DIR}/docs/Doxyfile.in
    COMMENT "API reference in ${PROJECT_BINARY_DIR}/docs/html"
    VERBATIM)
else()
  add_custom_target(docs
    COMMAND ${CMAKE_COMMAND} -E echo
            "docs: doxygen was not found; install it (apt-get install doxygen, or scripts/deps.sh) and configure again"
    COMMAND ${CMAKE_COMMAND} -E false
    VERBATIM)
endif()

if(PALOMA_TESTS AND PALOMA_DOXYGEN AND NOT WIN32)
  add_test(NAME docs_reference
           COMMAND ${PROJECT_SOURCE_DIR}/tests/docs/reference_test.sh
                   ${PROJECT_BINARY_DIR}/Doxyfile ${PROJECT_SOURCE_DIR}/include/paloma.h)
  set_tests_properties(docs_reference PROPERTIES LABELS unit TIMEOUT 300)
endif()

# docs/guide.md against its examples and pictures (Debian's python3 and pytest).
find_program(PALOMA_DEBIAN_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH)
if(PALOMA_TESTS AND PALOMA_DEBIAN_PYTHON AND NOT WIN32)
  add_test(NAME docs_guide
           COMMAND ${PALOMA_DEBIAN_PYTHON} -m pytest -p no:cacheprovider -q tests/docs/test_guide.py
           WORKING_DIRECTORY ${PROJECT_SOURCE_DIR})
  set_tests_properties(docs_guide PROPERTIES LABELS unit TIMEOUT 120)
  # The Python and command-line chapters: their examples print their pictures
  # again on this build's library, virtual printer and paloma tool.
  if(TARGET paloma-cli AND TARGET paloma-vprinter)
    add_test(NAME docs_guide_chapters
             COMMAND ${CMAKE_COMMAND} -E env PALOMA_LIBRARY=$<TARGET_FILE:paloma>
                     PALOMA_VPRINTER=$<TARGET_FILE:paloma-vprinter> PALOMA_CLI=$<TARGET_FILE:paloma-cli>
                     ${PALOMA_DEBIAN_PYTHON} -m pytest -p no:cacheprovider -q
                     tests/docs/test_guide_chapters.py
             WORKING_DIRECTORY ${PROJECT_SOURCE_DIR})
    set_tests_properties(docs_guide_chapters PROPERTIES LABELS integration TIMEOUT 300)
  endif()
endif()

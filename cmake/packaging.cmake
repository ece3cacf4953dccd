# Packages: `cpack -G DEB` makes libpaloma1 (the shared library), libpaloma-dev
# (header, static library, pkg-config and CMake files) and paloma-tools (the
# virtual printer and the command-line tool, when built) and python3-paloma
# (the Python package for Debian's python3); `cpack -G TGZ` makes one archive
# of them all.
set(CPACK_PACKAGE_NAME paloma)
set(CPACK_PACKAGE_VENDOR "The PALOMA authors")
set(CPACK_PACKAGE_CONTACT "The PALOMA authors <paloma@localhost>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "SDK that lets application programs drive thermal label printers")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_FILE_NAME paloma-${PROJECT_VERSION}-${CMAKE_SYSTEM_NAME})
set(CPACK_COMPONENTS_ALL runtime dev tools python)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The paloma command links libpaloma.so.1, which is in libpaloma1, not in
# paloma-tools: dpkg-shlibdeps finds it in the build tree (the dependency on
# libpaloma1 is stated below).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR})
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libpaloma1)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_DEV_PACKAGE_NAME libpaloma-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
# A static link (paloma::paloma_static, pkg-config --static) needs the
# libraries' link files and the C++ runtime's.
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libpaloma1 (= ${PROJECT_VERSION}), libcups2-dev, libpango1.0-dev, libcairo2-dev, libusb-1.0-0-dev, libstdc++-dev")
set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME paloma-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "libpaloma1 (= ${PROJECT_VERSION})")
# paloma text draws Chinese, Japanese and Korean only with a font that has them.
set(CPACK_DEBIAN_TOOLS_PACKAGE_RECOMMENDS "fonts-noto-cjk")
set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "PALOMA label printer SDK: the shared library")
set(CPACK_COMPONENT_DEV_DESCRIPTION "PALOMA label printer SDK: header, static library, pkg-config and CMake files")
set(CPACK_COMPONENT_TOOLS_DESCRIPTION "PALOMA tools: the virtual label printer, the paloma command and the printer application")
# The printer application renders PDF jobs with Ghostscript (both
# recommendations in one list: a second set() would drop the font).
set(CPACK_DEBIAN_TOOLS_PACKAGE_RECOMMENDS "fonts-noto-cjk, ghostscript")

# python3-paloma: the package's modules where Debian's python3 finds them,
# with the metadata pip and importlib.metadata read. Pure Python: it loads
# libpaloma.so.1 of libpaloma1 through ctypes.
set(PALOMA_PYTHON_DIR lib/python3/dist-packages)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/python/paloma/ DESTINATION ${PALOMA_PYTHON_DIR}/paloma
        COMPONENT python FILES_MATCHING PATTERN "*.py" PATTERN "*.pyi" PATTERN "py.typed"
        PATTERN "__pycache__" EXCLUDE)
file(WRITE ${PROJECT_BINARY_DIR}/python-dist-info/METADATA
     "Metadata-Version: 2.1\nName: paloma\nVersion: ${PROJECT_VERSION}\n"
     "Summary: Drive thermal label printers from Python through the PALOMA library\n")
file(WRITE ${PROJECT_BINARY_DIR}/python-dist-info/INSTALLER "dpkg\n")
install(FILES ${PROJECT_BINARY_DIR}/python-dist-info/METADATA
              ${PROJECT_BINARY_DIR}/python-dist-info/INSTALLER
        DESTINATION ${PALOMA_PYTHON_DIR}/paloma-${PROJECT_VERSION}.dist-info COMPONENT python)
set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-paloma)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_DEBIAN_PYTHON_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "libpaloma1 (= ${PROJECT_VERSION}), python3 (>= 3.9)")
set(CPACK_DEBIAN_PYTHON_PACKAGE_SUGGESTS "paloma-tools, python3-pytest")
set(CPACK_COMPONENT_PYTHON_DESCRIPTION "PALOMA label printer SDK: the Python package (ctypes), with a pytest plugin that prints on the virtual printer")

# Debian wants the licence as each package's copyright file.
foreach(c runtime dev tools python)
  if(c STREQUAL python)
    set(pkg python3-paloma)
  elseif(c STREQUAL runtime)
    set(pkg libpaloma1)
  elseif(c STREQUAL dev)
    set(pkg libpaloma-dev)
  else()
    set(pkg paloma-tools)
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${pkg}
          RENAME copyright COMPONENT ${c})
endforeach()
include(CPack)

# The macOS application bundle: Info.plist, the icon as .icns, and, on install, the Qt
# frameworks and plugins (macdeployqt) with Qt's Chinese texts beside them. Included from
# src/CMakeLists.txt on Apple platforms only, where the executable target is defined.
#
# Nothing here runs on the Debian machines this project is built and tested on: the macOS build
# is written to configure and build, but it is not exercised here.

# The installer's own identifier; the product it installs carries QUILLMERE_BUNDLE_ID.
set(QUILLMERE_INSTALLER_BUNDLE_ID "com.quillmere.installer")
if(QUILLMERE_INSTALLER_BUNDLE_ID STREQUAL QUILLMERE_BUNDLE_ID)
  message(FATAL_ERROR "The installer and the product it installs must not share the bundle "
    "identifier ${QUILLMERE_BUNDLE_ID}.")
endif()
if(CMAKE_OSX_DEPLOYMENT_TARGET)
  set(QUILLMERE_MACOS_MINIMUM ${CMAKE_OSX_DEPLOYMENT_TARGET})
else()
  set(QUILLMERE_MACOS_MINIMUM "11.0")
endif()

# The icon drawn at build time, resized into an icon set and packed by iconutil. The drawing
# is 256 pixels square, so the set stops there rather than scale it up.
find_program(QUILLMERE_SIPS sips REQUIRED)
find_program(QUILLMERE_ICONUTIL iconutil REQUIRED)
set(QUILLMERE_ICONSET ${CMAKE_CURRENT_BINARY_DIR}/generated/installer_icon.iconset)
set(QUILLMERE_ICNS ${CMAKE_CURRENT_BINARY_DIR}/generated/installer_icon.icns)
set(QUILLMERE_ICON_RESIZES)
foreach(entry IN ITEMS 16x16:16 16x16@2x:32 32x32:32 32x32@2x:64 128x128:128 128x128@2x:256
                       256x256:256)
  string(REPLACE ":" ";" entry ${entry})
  list(GET entry 0 name)
  list(GET entry 1 pixels)
  list(APPEND QUILLMERE_ICON_RESIZES COMMAND ${QUILLMERE_SIPS} -z ${pixels} ${pixels}
    ${QUILLMERE_ICON} --out ${QUILLMERE_ICONSET}/icon_${name}.png)
endforeach()
add_custom_command(OUTPUT ${QUILLMERE_ICNS}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${QUILLMERE_ICONSET}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${QUILLMERE_ICONSET}
  ${QUILLMERE_ICON_RESIZES}
  COMMAND ${QUILLMERE_ICONUTIL} -c icns -o ${QUILLMERE_ICNS} ${QUILLMERE_ICONSET}
  DEPENDS ${QUILLMERE_ICON}
  COMMENT "Packing the installer icon for macOS")
target_sources(quillmere-installer PRIVATE ${QUILLMERE_ICNS})
set_source_files_properties(${QUILLMERE_ICNS} PROPERTIES MACOSX_PACKAGE_LOCATION Resources)

set_target_properties(quillmere-installer PROPERTIES
  MACOSX_BUNDLE ON
  OUTPUT_NAME "Quillmere Installer"
  MACOSX_BUNDLE_INFO_PLIST ${CMAKE_CURRENT_LIST_DIR}/Info.plist.in
  MACOSX_BUNDLE_BUNDLE_NAME "Quillmere Installer"
  MACOSX_BUNDLE_GUI_IDENTIFIER ${QUILLMERE_INSTALLER_BUNDLE_ID}
  MACOSX_BUNDLE_BUNDLE_VERSION ${PROJECT_VERSION}
  MACOSX_BUNDLE_SHORT_VERSION_STRING ${PROJECT_VERSION}
  MACOSX_BUNDLE_ICON_FILE installer_icon.icns)

# `cmake --install BUILD --prefix FOLDER` puts the bundle into FOLDER. Installed, the bundle
# takes Qt along (macdeployqt copies the frameworks and plugins into it) and Qt's Chinese
# texts, which loadPlatformTranslations finds through QLibraryInfo: qt.conf points its
# translations at Contents/Resources/translations and its plugins where macdeployqt put them.
# The qt.conf comes after macdeployqt, which writes one of its own. The bundle in the build
# folder keeps using the Qt it was built with and has no qt.conf.
find_program(QUILLMERE_MACDEPLOYQT macdeployqt
  HINTS ${QT6_INSTALL_PREFIX}/${QT6_INSTALL_BINS} REQUIRED)
set(QUILLMERE_QT_TRANSLATION
  ${QT6_INSTALL_PREFIX}/${QT6_INSTALL_TRANSLATIONS}/qtbase_zh_CN.qm)
if(NOT EXISTS ${QUILLMERE_QT_TRANSLATION})
  message(FATAL_ERROR "Qt's Chinese texts are missing: ${QUILLMERE_QT_TRANSLATION}")
endif()
set(QUILLMERE_BUNDLE_CONTENTS "$<TARGET_BUNDLE_DIR_NAME:quillmere-installer>/Contents")
install(CODE "execute_process(
  COMMAND \"${QUILLMERE_MACDEPLOYQT}\"
    \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/$<TARGET_BUNDLE_DIR_NAME:quillmere-installer>\"
    -always-overwrite
  COMMAND_ERROR_IS_FATAL ANY)")
install(FILES ${QUILLMERE_QT_TRANSLATION}
  DESTINATION ${QUILLMERE_BUNDLE_CONTENTS}/Resources/translations)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/qt.conf DESTINATION ${QUILLMERE_BUNDLE_CONTENTS}/Resources)

# The effect: its logic in a static library (quillane_plugin), wrapped by the
# loadable module quillane_effect inside its bundle folder:
#
#   ${QUILLANE_BUNDLE_DIR}/quillane_effect.so
#   ${QUILLANE_BUNDLE_RESOURCES_DIR}/Localizable.json  (and any other resource)
#
# Other code in plugin/ adds its sources to quillane_plugin and copies its
# resources into QUILLANE_BUNDLE_RESOURCES_DIR.
set(QUILLANE_BUNDLE_DIR ${CMAKE_BINARY_DIR}/plugin/Quillane.bundle CACHE INTERNAL "The effect's bundle folder")
set(QUILLANE_BUNDLE_RESOURCES_DIR ${QUILLANE_BUNDLE_DIR}/Resources CACHE INTERNAL "The effect bundle's resources")
set(QUILLANE_EFFECT_MODULE ${QUILLANE_BUNDLE_DIR}/quillane_effect.so CACHE INTERNAL "The effect module")

add_library(quillane_plugin STATIC
  ${CMAKE_CURRENT_LIST_DIR}/Base64.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PluginBundle.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FxQuillane.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FxQuillaneRender.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FxQuillaneActions.cpp)
target_link_libraries(quillane_plugin PUBLIC quillane_fxplug quillane_lut quillane_desktop quillane_online quillane_nfd
  PRIVATE quillane_gallery nlohmann_json::nlohmann_json ${CMAKE_DL_LIBS})

add_library(quillane_effect MODULE ${CMAKE_CURRENT_LIST_DIR}/QuillaneModule.cpp)
target_link_libraries(quillane_effect PRIVATE quillane_plugin)
# Only the entry point leaves the module; everything else stays inside, so
# two modules (or a module and a program with the same libraries) never mix.
set_target_properties(quillane_effect PROPERTIES
  PREFIX ""
  OUTPUT_NAME quillane_effect
  SUFFIX ".so"
  LIBRARY_OUTPUT_DIRECTORY ${QUILLANE_BUNDLE_DIR}
  CXX_VISIBILITY_PRESET hidden
  VISIBILITY_INLINES_HIDDEN ON)
target_link_options(quillane_effect PRIVATE -Wl,--exclude-libs,ALL -Wl,--no-undefined)

add_custom_command(
  OUTPUT ${QUILLANE_BUNDLE_RESOURCES_DIR}/Localizable.json
  COMMAND ${CMAKE_COMMAND} -E make_directory ${QUILLANE_BUNDLE_RESOURCES_DIR}
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_CURRENT_LIST_DIR}/Resources/Localizable.json
          ${QUILLANE_BUNDLE_RESOURCES_DIR}/Localizable.json
  DEPENDS ${CMAKE_CURRENT_LIST_DIR}/Resources/Localizable.json
  COMMENT "Effect bundle resources")
add_custom_target(quillane_effect_resources DEPENDS ${QUILLANE_BUNDLE_RESOURCES_DIR}/Localizable.json)
add_dependencies(quillane_effect quillane_effect_resources)

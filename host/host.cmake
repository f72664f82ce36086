# The host: our stand-in for the video editor (library quillane_host) and its
# command line (quillane-host). The host knows the effect only through the
# plug-in interface and the module it loads.
add_library(quillane_host STATIC
  ${CMAKE_CURRENT_LIST_DIR}/Host.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Project.cpp
  ${CMAKE_CURRENT_LIST_DIR}/HostCli.cpp)
target_link_libraries(quillane_host PUBLIC quillane_fxplug PRIVATE quillane_files nlohmann_json::nlohmann_json ${CMAKE_DL_LIBS})
target_compile_definitions(quillane_host PRIVATE QUILLANE_DEFAULT_EFFECT_MODULE="${QUILLANE_EFFECT_MODULE}")

add_executable(quillane-host ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
target_link_libraries(quillane-host PRIVATE quillane_host)
# Running the host needs the effect it loads.
if(TARGET quillane_effect)
  add_dependencies(quillane-host quillane_effect)
endif()

# Frames: PNG files in and out, rendering through the effect on a headless
# OpenGL context, and the current frame effects ask for.
find_package(PNG REQUIRED)
target_sources(quillane_host PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/FrameFile.cpp
  ${CMAKE_CURRENT_LIST_DIR}/HostFrame.cpp
  ${CMAKE_CURRENT_LIST_DIR}/HostRender.cpp)
target_link_libraries(quillane_host PUBLIC quillane_cgl quillane_lut PRIVATE PNG::PNG)

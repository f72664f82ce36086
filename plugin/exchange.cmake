# The exchange with the Quillane desktop application: the frame out, the LUT
# and preset back. A library of its own so that it can be exercised without
# the effect; the effect links it in.
add_library(quillane_exchange STATIC ${CMAKE_CURRENT_LIST_DIR}/DesktopExchange.cpp)
target_link_libraries(quillane_exchange PUBLIC quillane_desktop quillane_lut quillane_fxplug)

# The effect's button 2 and its answer.
if(TARGET quillane_plugin)
  target_sources(quillane_plugin PRIVATE ${CMAKE_CURRENT_LIST_DIR}/FxQuillaneExchange.cpp)
  target_link_libraries(quillane_plugin PUBLIC quillane_exchange)
endif()

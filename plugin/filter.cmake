# The GPU filter: QuillaneFilter with its kernel text, the image-context cache
# and the filter constructor. The kernel text is a resource of the effect's bundle.
add_library(quillane_filter STATIC
  ${CMAKE_CURRENT_LIST_DIR}/QuillaneFilter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CIFxPlugCache.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LutFilterConstructor.cpp)
target_link_libraries(quillane_filter PUBLIC quillane_coreimage quillane_fxplug quillane_lut)

set(QUILLANE_KERNEL_SOURCE ${CMAKE_CURRENT_LIST_DIR}/QuillaneFilter.cikernel CACHE INTERNAL "The filter's kernel text")
if(DEFINED QUILLANE_BUNDLE_RESOURCES_DIR)
  add_custom_command(
    OUTPUT ${QUILLANE_BUNDLE_RESOURCES_DIR}/QuillaneFilter.cikernel
    COMMAND ${CMAKE_COMMAND} -E make_directory ${QUILLANE_BUNDLE_RESOURCES_DIR}
    COMMAND ${CMAKE_COMMAND} -E copy ${QUILLANE_KERNEL_SOURCE} ${QUILLANE_BUNDLE_RESOURCES_DIR}/QuillaneFilter.cikernel
    DEPENDS ${QUILLANE_KERNEL_SOURCE}
    COMMENT "Filter kernel resource")
  add_custom_target(quillane_filter_resources DEPENDS ${QUILLANE_BUNDLE_RESOURCES_DIR}/QuillaneFilter.cikernel)
  if(TARGET quillane_effect)
    add_dependencies(quillane_effect quillane_filter_resources)
  endif()
endif()

# The effect renders through the filter.
if(TARGET quillane_plugin)
  target_link_libraries(quillane_plugin PUBLIC quillane_filter)
endif()

# quillane-cpu-preview OUTDIR: grades a generated sample frame with a
# generated sample LUT on the CPU and writes both frames as PNG.
add_executable(quillane-cpu-preview ${CMAKE_CURRENT_SOURCE_DIR}/cpu_preview.cpp)
target_link_libraries(quillane-cpu-preview PRIVATE quillane_lut lodepng::lodepng)
set_target_properties(quillane-cpu-preview PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})

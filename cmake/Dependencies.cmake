# Every external package, found once for the whole tree. Debian's packages only.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)

find_package(CURL REQUIRED)
pkg_check_modules(CRYPTOPP REQUIRED IMPORTED_TARGET libcrypto++)
find_package(nlohmann_json 3.11 REQUIRED)

# lodepng ships neither a CMake config nor a .pc file.
find_path(LODEPNG_INCLUDE_DIR lodepng.h REQUIRED)
find_library(LODEPNG_LIBRARY lodepng REQUIRED)
if(NOT TARGET lodepng::lodepng)
  add_library(lodepng::lodepng UNKNOWN IMPORTED)
  set_target_properties(lodepng::lodepng PROPERTIES
    IMPORTED_LOCATION "${LODEPNG_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${LODEPNG_INCLUDE_DIR}")
endif()

# nanogui's own config does not find its dependencies: this order matters.
set(OpenGL_GL_PREFERENCE GLVND)
find_package(OpenGL REQUIRED COMPONENTS OpenGL EGL)
find_package(Eigen3 3.3 REQUIRED NO_MODULE)
find_package(glfw3 3.3 REQUIRED)
find_package(mrpt-nanogui REQUIRED)

pkg_check_modules(GTK3 REQUIRED IMPORTED_TARGET gtk+-3.0)

if(QUILLANE_TESTS)
  find_package(GTest REQUIRED)
endif()
if(QUILLANE_BENCH)
  find_package(benchmark REQUIRED)
endif()

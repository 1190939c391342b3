# Finds every outside library of the project. A missing one stops the configure
# step with the Debian package that provides it (scripts/bootstrap installs all).
find_package(PkgConfig)
if(NOT PkgConfig_FOUND)
  message(FATAL_ERROR "pkg-config is missing: install the Debian package 'pkg-config' (or run scripts/bootstrap)")
endif()

function(pv_require_pkg target module debian)
  pkg_check_modules(${target} QUIET IMPORTED_TARGET GLOBAL ${module})
  if(NOT ${target}_FOUND)
    message(FATAL_ERROR "${module} not found: install the Debian package '${debian}' (or run scripts/bootstrap)")
  endif()
endfunction()

pv_require_pkg(PV_JPEG libjpeg libjpeg62-turbo-dev)
pv_require_pkg(PV_PNG libpng16 libpng-dev)
pv_require_pkg(PV_ZLIB zlib zlib1g-dev)
pv_require_pkg(PV_TIFF libtiff-4 libtiff-dev)
pv_require_pkg(PV_GIF libgif libgif-dev)
pv_require_pkg(PV_MAGICK Magick++-6.Q16 libmagick++-6.q16-dev)
pv_require_pkg(PV_RAW libraw_r libraw-dev)
pv_require_pkg(PV_EXIV2 exiv2 libexiv2-dev)
pv_require_pkg(PV_DEFLATE libdeflate libdeflate-dev)
pv_require_pkg(PV_LCMS lcms2 liblcms2-dev)
pv_require_pkg(PV_WEBP "libwebp;libwebpmux;libwebpdemux" libwebp-dev)
pv_require_pkg(PV_AVIF libavif libavif-dev)
pv_require_pkg(PV_HEIF libheif libheif-dev)
pv_require_pkg(PV_JXL "libjxl;libjxl_threads" libjxl-dev)

# OpenCV's Debian -dev packages for single modules ship no CMake config or .pc
# file, so core and imgproc are located by hand.
find_path(PV_OPENCV_INCLUDE opencv2/core.hpp PATH_SUFFIXES opencv4)
find_path(PV_OPENCV_ARCH_INCLUDE opencv2/cvconfig.h
          PATHS /usr/include/${CMAKE_LIBRARY_ARCHITECTURE} PATH_SUFFIXES opencv4)
find_library(PV_OPENCV_CORE opencv_core)
find_library(PV_OPENCV_IMGPROC opencv_imgproc)
if(NOT PV_OPENCV_INCLUDE OR NOT PV_OPENCV_CORE)
  message(FATAL_ERROR "OpenCV core not found: install the Debian package 'libopencv-core-dev' (or run scripts/bootstrap)")
endif()
if(NOT PV_OPENCV_IMGPROC OR NOT EXISTS ${PV_OPENCV_INCLUDE}/opencv2/imgproc.hpp)
  message(FATAL_ERROR "OpenCV imgproc not found: install the Debian package 'libopencv-imgproc-dev' (or run scripts/bootstrap)")
endif()
add_library(pv_opencv INTERFACE)
target_include_directories(pv_opencv SYSTEM INTERFACE ${PV_OPENCV_INCLUDE} ${PV_OPENCV_ARCH_INCLUDE})
target_link_libraries(pv_opencv INTERFACE ${PV_OPENCV_IMGPROC} ${PV_OPENCV_CORE})

find_package(nlohmann_json 3 QUIET)
if(NOT nlohmann_json_FOUND)
  message(FATAL_ERROR "nlohmann_json not found: install the Debian package 'nlohmann-json3-dev' (or run scripts/bootstrap)")
endif()

find_package(Qt6 QUIET COMPONENTS Core Gui Widgets Test)
if(NOT Qt6_FOUND)
  message(FATAL_ERROR "Qt 6 not found: install the Debian package 'qt6-base-dev' (or run scripts/bootstrap)")
endif()

pv_require_pkg(PV_NAUTILUS libnautilus-extension-4 libnautilus-extension-dev)
# The one folder Nautilus loads plugins from (it reads no per-user folder).
pkg_get_variable(PV_NAUTILUS_EXTENSION_DIR libnautilus-extension-4 extensiondir)

find_package(Threads REQUIRED)

if(PV_BUILD_TESTS)
  find_package(GTest QUIET)
  if(NOT GTest_FOUND)
    message(FATAL_ERROR "GoogleTest not found: install the Debian packages 'libgtest-dev' and 'libgmock-dev' (or run scripts/bootstrap)")
  endif()
endif()
if(PV_BUILD_BENCH)
  find_package(benchmark QUIET)
  if(NOT benchmark_FOUND)
    message(FATAL_ERROR "Google Benchmark not found: install the Debian package 'libbenchmark-dev' (or run scripts/bootstrap)")
  endif()
endif()

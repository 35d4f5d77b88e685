# Every system library the project links, found once and exposed as targets.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)

if(ZV_BUILD_TESTS)
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()
if(ZV_BUILD_BENCH)
  find_package(benchmark REQUIRED)
endif()

find_package(fmt REQUIRED)
find_package(ICU REQUIRED COMPONENTS uc i18n data)
find_package(ZLIB REQUIRED)
find_package(OpenSSL REQUIRED)
find_package(CURL REQUIRED)
find_package(tsl-ordered-map REQUIRED)

pkg_check_modules(PCRE2 REQUIRED IMPORTED_TARGET libpcre2-8)
pkg_check_modules(YYJSON REQUIRED IMPORTED_TARGET yyjson)
pkg_check_modules(OPENBLAS REQUIRED IMPORTED_TARGET openblas)
pkg_check_modules(FFMPEG REQUIRED IMPORTED_TARGET libavformat libavcodec libswresample libavutil)
pkg_check_modules(PORTAUDIO REQUIRED IMPORTED_TARGET portaudio-2.0)

# Desktop layer: Qt widgets, and X11 for the global hotkey (XInput2), synthetic
# paste (XTest) and the active window. Targets: Qt6::Widgets, X11::X11,
# X11::Xi, X11::Xtst.
find_package(Qt6 REQUIRED COMPONENTS Core Gui Widgets)
find_package(X11 REQUIRED)
if(NOT X11_Xi_FOUND OR NOT X11_Xtst_FOUND)
  message(FATAL_ERROR "libxi-dev and libxtst-dev are needed (scripts/install-deps installs them)")
endif()

# One target that carries the warnings and strictness every target of the project builds with.
add_library(korinbo_common INTERFACE)
target_compile_features(korinbo_common INTERFACE cxx_std_20)
target_compile_options(korinbo_common INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast -Wcast-align
  -Wunused -Woverloaded-virtual -Wconversion -Wsign-conversion
  -Wdouble-promotion -Wformat=2 -Wimplicit-fallthrough -Wmisleading-indentation)
if(KORINBO_WERROR)
  target_compile_options(korinbo_common INTERFACE -Werror)
endif()
if(KORINBO_SANITIZE)
  target_compile_options(korinbo_common INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer
                         -fno-sanitize-recover=undefined)
  target_link_options(korinbo_common INTERFACE -fsanitize=address,undefined)
endif()

# Qt code: Shift_JIS bytes must never silently become a QString.
add_library(korinbo_qt_strict INTERFACE)
target_compile_definitions(korinbo_qt_strict INTERFACE
  QT_NO_CAST_FROM_ASCII QT_NO_CAST_FROM_BYTEARRAY QT_NO_CAST_TO_ASCII QT_NO_URL_CAST_FROM_STRING
  QT_NO_NARROWING_CONVERSIONS_IN_CONNECT QT_NO_FOREACH)
target_link_libraries(korinbo_qt_strict INTERFACE korinbo_common)

# The event sounds' headers and lengths need only Python, so they are checked in every build.
add_test(NAME resources.wav_files
  COMMAND ${VELKORANT_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/wav_files_test.py
          ${CMAKE_SOURCE_DIR}/resources/sounds)
set_tests_properties(resources.wav_files PROPERTIES LABELS unit TIMEOUT 60)

# The compiled-in resources exist only where the desktop program is built.
if(TARGET velkorant_resources)
  find_package(Qt6 REQUIRED COMPONENTS Gui Svg)
  velkorant_add_gtest(resources_tests unit pictures_test.cpp
    PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen)
  target_link_libraries(resources_tests PRIVATE Qt6::Gui Qt6::Svg velkorant_resources)
endif()

# Tests of host-name decoding and the URL list's display text.
target_sources(kelvara_tests PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/punycode_test.cpp ${CMAKE_CURRENT_LIST_DIR}/url_display_test.cpp)

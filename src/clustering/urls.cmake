# Host-name decoding and the URL list's display text.
target_sources(kelvara_core PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/punycode.cpp ${CMAKE_CURRENT_LIST_DIR}/punycode.h
    ${CMAKE_CURRENT_LIST_DIR}/url_display.cpp ${CMAKE_CURRENT_LIST_DIR}/url_display.h)

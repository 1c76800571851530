# The clustering engine, its thread and the cluster assembly. The data generator is compiled in
# directly, so these tests do not depend on the benchmarks being built.
target_sources(kelvara_tests PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/assembly_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/engine_cases.cpp
    ${CMAKE_CURRENT_LIST_DIR}/engine_cases.h
    ${CMAKE_CURRENT_LIST_DIR}/engine_order_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/engine_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/grouping_thread_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/reference_engine.cpp
    ${CMAKE_CURRENT_LIST_DIR}/reference_engine.h
    ${CMAKE_SOURCE_DIR}/bench/datagen.cpp
    ${CMAKE_SOURCE_DIR}/bench/datagen.h
    ${CMAKE_CURRENT_LIST_DIR}/datagen_test.cpp)
target_include_directories(kelvara_tests PRIVATE ${CMAKE_SOURCE_DIR}/bench)

# The clustering engine, its thread and the cluster assembly.
target_sources(kelvara_core PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/assembly.cpp
    ${CMAKE_CURRENT_LIST_DIR}/assembly.h
    ${CMAKE_CURRENT_LIST_DIR}/engine.cpp
    ${CMAKE_CURRENT_LIST_DIR}/engine.h
    ${CMAKE_CURRENT_LIST_DIR}/engine_memory.h
    ${CMAKE_CURRENT_LIST_DIR}/engine_methods.h
    ${CMAKE_CURRENT_LIST_DIR}/engine_monitor.h
    ${CMAKE_CURRENT_LIST_DIR}/engine_order.cpp
    ${CMAKE_CURRENT_LIST_DIR}/engine_order.h
    ${CMAKE_CURRENT_LIST_DIR}/engine_parallel.h
    ${CMAKE_CURRENT_LIST_DIR}/engine_prepare.cpp
    ${CMAKE_CURRENT_LIST_DIR}/engine_prepare.h
    ${CMAKE_CURRENT_LIST_DIR}/engine_progress.h
    ${CMAKE_CURRENT_LIST_DIR}/engine_radix.h
    ${CMAKE_CURRENT_LIST_DIR}/grouping_thread.cpp
    ${CMAKE_CURRENT_LIST_DIR}/grouping_thread.h
    ${CMAKE_CURRENT_LIST_DIR}/hard_method.cpp
    ${CMAKE_CURRENT_LIST_DIR}/soft_method.cpp
    ${CMAKE_CURRENT_LIST_DIR}/sorted_intersection.h)

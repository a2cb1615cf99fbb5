target_link_libraries(${name} PRIVATE dunmere_app_core)

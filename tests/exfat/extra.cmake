# Copy-out as the windows and the command line do it (folders kept) needs
# the application core.
target_link_libraries(test_exfat PRIVATE dunmere_app_core)

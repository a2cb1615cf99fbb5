target_link_libraries(test_cli PRIVATE dunmere_cli_lib)
# The end-to-end tests run the built program.
add_dependencies(test_cli dunmere-cli)

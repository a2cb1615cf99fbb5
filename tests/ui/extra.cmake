# The UI tests use the toolkit, the message boxes and the language table.
target_link_libraries(test_ui PRIVATE dunmere_gui)
set_target_properties(test_ui PROPERTIES AUTOMOC ON)

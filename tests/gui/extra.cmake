# The main window and the program: the windows, the device monitor, and the
# real `dunmere` started as a process (single copy, clean exit).
target_link_libraries(test_gui PRIVATE dunmere_gui)
set_target_properties(test_gui PROPERTIES AUTOMOC ON)
add_dependencies(test_gui dunmere)
# Key presses as a user makes them (Escape in a question box).
find_package(Qt6 REQUIRED COMPONENTS Test)
target_link_libraries(test_gui PRIVATE Qt6::Test)

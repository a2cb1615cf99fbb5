target_link_libraries(test_cli PRIVATE dunmere_cli_lib)
# The end-to-end tests run the built program.
add_dependencies(test_cli dunmere-cli)
# Interrupting a deep scan (Ctrl-C and kill -9 in turn) and taking it up must
# give exactly the files of one uninterrupted scan. A few rounds on a small
# image here; scripts/crash_resume_check.sh alone runs 20 on 1 GiB.
add_test(NAME crash_resume COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/crash_resume_check.sh
         --kills 4 --size 96 --cli $<TARGET_FILE:dunmere-cli>)
set_tests_properties(crash_resume PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 600)
# The committed exFAT images and their manifests.
target_sources(test_cli PRIVATE ${CMAKE_SOURCE_DIR}/tests/exfat/exfat_images.cpp)

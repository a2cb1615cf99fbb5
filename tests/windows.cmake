# The test programs of the Windows build (cmake/mingw-w64.cmake), run under
# Wine by scripts/build-windows.sh --test. Each layer's program holds the
# tests that read no Linux tool at run time and need no POSIX call of their
# own; the fixture images come from the Linux side ($DUNMERE_FIXTURE_DIR).
# Tests under tests/<folder>/windows/ are for this build alone.
set(DUNMERE_WINDOWS_TEST_DIRS base platform storage engine ntfs fat exfat carving scan cli app)
set(tests_base base/text_and_status_test.cpp base/windows_names_test.cpp)
set(tests_platform platform/windows/*.cpp)
set(tests_storage storage/system_disk_list_test.cpp)
set(tests_engine engine/file_formats_test.cpp engine/result_store_test.cpp engine/scan_log_folder_test.cpp
    engine/store_engine_test.cpp engine/fuzz_regressions_test.cpp)
set(tests_ntfs ntfs/ntfs_parsers_test.cpp ntfs/ntfs_synthetic_test.cpp ntfs/synthetic_volume.cpp
    ntfs/ntfs_images_test.cpp)
set(tests_fat fat/fat_images.cpp fat/fat_names_test.cpp fat/dir_entry_tests_test.cpp fat/quick_fat_scan_test.cpp
    fat/quick_fat_engine_test.cpp fat/deleted_folder_ends_test.cpp fat/deep_fat_name_tails_test.cpp)
set(tests_exfat exfat/exfat_builder.cpp exfat/exfat_images.cpp exfat/exfat_parsers_test.cpp
    exfat/quick_exfat_images_test.cpp exfat/quick_exfat_damaged_test.cpp exfat/exfat_fixtures_test.cpp)
set(tests_carving carving/jpeg_walk_test.cpp carving/png_walk_test.cpp carving/sig_rules_test.cpp)
set(tests_scan scan/deep_scan_engine_test.cpp scan/file_systems_test.cpp scan/deep_scan_whole_disk_fat_test.cpp)
set(tests_cli cli/cli_commands_test.cpp cli/cli_exfat_test.cpp cli/cli_logical_partitions_test.cpp
    exfat/exfat_images.cpp cli/windows/*.cpp)
set(tests_app app/refused_names_test.cpp app/recovery_paths_test.cpp app/file_categories_test.cpp
    app/folder_tree_test.cpp app/result_model_test.cpp app/program_help_test.cpp)

foreach(dir ${DUNMERE_WINDOWS_TEST_DIRS})
  set(sources)
  foreach(pattern ${tests_${dir}})
    file(GLOB found CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${pattern})
    list(APPEND sources ${found})
  endforeach()
  add_executable(test_${dir} ${sources})
  target_link_libraries(test_${dir} PRIVATE dunmere_test_support GTest::gtest_main)
  add_test(NAME test_${dir} COMMAND test_${dir} --gtest_brief=1)
  set_tests_properties(test_${dir} PROPERTIES TIMEOUT 1200)
endforeach()

target_link_libraries(test_app PRIVATE dunmere_app_core)
target_link_libraries(test_cli PRIVATE dunmere_cli_lib)
add_dependencies(test_cli dunmere-cli)
target_link_libraries(test_exfat PRIVATE dunmere_app_core)
# The disk and volume enumeration reads recorded answers through the seam
# the platform's Windows files use.
target_compile_definitions(test_platform PRIVATE _WIN32_WINNT=0x0A00 WIN32_LEAN_AND_MEAN NOMINMAX)

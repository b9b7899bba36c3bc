# Settings shared by every target of the project.
add_library(ravlek_common INTERFACE)
target_compile_features(ravlek_common INTERFACE cxx_std_20)
target_compile_definitions(ravlek_common INTERFACE
    QT_NO_CAST_FROM_ASCII QT_NO_CAST_TO_ASCII QT_NO_URL_CAST_FROM_STRING
    QT_NO_KEYWORDS QT_DISABLE_DEPRECATED_BEFORE=0x060400
    RAVLEK_VERSION="${PROJECT_VERSION}")
target_compile_options(ravlek_common INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-align -Woverloaded-virtual
    -Wformat=2 -Wimplicit-fallthrough)
if(RAVLEK_WERROR)
    target_compile_options(ravlek_common INTERFACE -Werror)
endif()
if(RAVLEK_SANITIZE)
    target_compile_options(ravlek_common INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer
        -fno-sanitize-recover=undefined)
    target_link_options(ravlek_common INTERFACE -fsanitize=address,undefined)
endif()
if(RAVLEK_FUZZ)
    # Coverage for libFuzzer in every library; the fuzz programs themselves link libFuzzer.
    target_compile_options(ravlek_common INTERFACE -fsanitize=fuzzer-no-link,address,undefined
        -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    target_link_options(ravlek_common INTERFACE -fsanitize=address,undefined)
endif()
target_include_directories(ravlek_common INTERFACE ${PROJECT_SOURCE_DIR}/src)

# ravlek_library(<name> DEPENDS <targets...>)
# One static library per source folder; every .cpp/.h in the folder belongs to it.
function(ravlek_library name)
    cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
    list(FILTER sources EXCLUDE REGEX "/main_[^/]*\\.cpp$")
    set(compiled ${sources})
    list(FILTER compiled INCLUDE REGEX "\\.cpp$")
    if(compiled)
        add_library(${name} STATIC ${sources})
        target_link_libraries(${name} PUBLIC ravlek_common ${ARG_DEPENDS})
    else()
        add_library(${name} INTERFACE)
        target_link_libraries(${name} INTERFACE ravlek_common ${ARG_DEPENDS})
    endif()
endfunction()

# Every file named tst_*.cpp under a tests folder becomes one QtTest executable run by CTest.
function(ravlek_tests_in_folder)
    file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tst_*.cpp)
    foreach(src IN LISTS tests)
        get_filename_component(name ${src} NAME_WE)
        add_executable(${name} ${src})
        target_link_libraries(${name} PRIVATE ravlek_testsupport)
        set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
        add_test(NAME ${name} COMMAND ${name})
        set_tests_properties(${name} PROPERTIES
            ENVIRONMENT "QT_QPA_PLATFORM=offscreen;RAVLEK_BIN_DIR=${CMAKE_BINARY_DIR}/bin"
            TIMEOUT 300)
    endforeach()
endfunction()

# Every PipeWire integration test runs against the system's PipeWire and, where that is
# Debian 12's 0.3.65 with WirePlumber 0.4, a second time against PipeWire 1.4 with
# WirePlumber 0.5, unpacked by scripts/pw-stack. The twin is the same executable with the
# client library, its plugins and the private session (scripts/pw-session) taken from
# that stack. A system with PipeWire 1.0 or newer (Debian 13) runs them once.
set(CORVALLE_PW1_ROOT "/opt/corvalle/pipewire-1.4" CACHE PATH
    "PipeWire 1.4 stack of the second run of the integration tests (scripts/pw-stack prepare)")

file(GLOB _corvalle_pw1_lib "${CORVALLE_PW1_ROOT}/usr/lib/*/libpipewire-0.3.so.0")
if(_corvalle_pw1_lib)
  get_filename_component(CORVALLE_PW1_LIBDIR "${_corvalle_pw1_lib}" DIRECTORY)
elseif(NOT CORVALLE_BUILD_PIPEWIRE)
  # A build without the PipeWire backend has no integration tests.
elseif(PIPEWIRE_VERSION VERSION_GREATER_EQUAL 1.0)
  message(STATUS "The integration tests run against the system's PipeWire ${PIPEWIRE_VERSION}")
else()
  message(WARNING "No PipeWire 1.4 stack in ${CORVALLE_PW1_ROOT}: the integration tests run "
                  "against the system's PipeWire only (bash scripts/pw-stack prepare)")
endif()

# corvalle_add_pw1_twin(<test>): registers <test>_pw1 on the second stack.
function(corvalle_add_pw1_twin name timeout)
  if(NOT CORVALLE_PW1_LIBDIR)
    return()
  endif()
  add_test(NAME ${name}_pw1 COMMAND ${name})
  set_tests_properties(${name}_pw1 PROPERTIES LABELS "pipewire;pw1" TIMEOUT ${timeout}
    RUN_SERIAL TRUE
    ENVIRONMENT "PW_SESSION_STACK=${CORVALLE_PW1_ROOT};LD_LIBRARY_PATH=${CORVALLE_PW1_LIBDIR};SPA_PLUGIN_DIR=${CORVALLE_PW1_LIBDIR}/spa-0.2;SPA_DATA_DIR=${CORVALLE_PW1_ROOT}/usr/share/spa-0.2;PIPEWIRE_MODULE_DIR=${CORVALLE_PW1_LIBDIR}/pipewire-0.3;PIPEWIRE_CONFIG_DIR=${CORVALLE_PW1_ROOT}/usr/share/pipewire;PATH=${CORVALLE_PW1_ROOT}/usr/bin:$ENV{PATH}")
endfunction()

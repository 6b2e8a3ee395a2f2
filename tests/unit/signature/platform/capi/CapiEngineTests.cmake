# The CryptoAPI engine under Wine, on the current user's stores of the test prefix.
#  1. capi_store_pki puts the make-pki certificates and keys into "Root", "CA" and "My".
#  2. signature_engine_tests runs the engine contract and the CryptoAPI cases, writing its signatures
#     next to the fixture.
#  3. verify_capi_signatures checks them with openssl on the build machine (the contract makes twelve).
set(_capi_dir ${CMAKE_CURRENT_SOURCE_DIR}/platform/capi)

add_executable(capi_store_pki ${_capi_dir}/CapiStorePki.cpp)
target_link_libraries(capi_store_pki PRIVATE crypt32 advapi32)
add_test(NAME capi_store_pki COMMAND capi_store_pki)
set_tests_properties(capi_store_pki PROPERTIES
  LABELS "engine"
  FIXTURES_SETUP capi_pki
  FIXTURES_REQUIRED pki
  RESOURCE_LOCK pki_store
  ENVIRONMENT "KORVANE_PKI_DIR=${KORVANE_PKI_DIR}")

# The scripted smart card behind the CryptoAPI table, also used by the API object's tests.
add_library(korvane_scripted_card STATIC ${_capi_dir}/ScriptedCard.cpp)
target_include_directories(korvane_scripted_card PUBLIC ${_capi_dir})
target_link_libraries(korvane_scripted_card PUBLIC korvane_signature)

add_executable(signature_engine_tests ${_capi_dir}/CapiEngineTest.cpp)
target_include_directories(signature_engine_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(signature_engine_tests PRIVATE korvane_signature korvane_scripted_card korvane_pki_fixture GTest::gtest GTest::gtest_main)
gtest_discover_tests(signature_engine_tests
  PROPERTIES
    LABELS "engine"
    FIXTURES_REQUIRED capi_pki
    FIXTURES_SETUP capi_signed
    RESOURCE_LOCK pki_store
    ENVIRONMENT "KORVANE_PKI_DIR=${KORVANE_PKI_DIR}"
  DISCOVERY_TIMEOUT 120)

add_test(NAME verify_capi_signatures COMMAND ${_capi_dir}/verify-capi-signatures ${KORVANE_PKI_DIR} 12)
set_tests_properties(verify_capi_signatures PROPERTIES LABELS "engine" FIXTURES_REQUIRED capi_signed)

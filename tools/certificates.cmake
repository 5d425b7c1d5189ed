# Certificates for our local HTTPS servers: the tests' in-process server and the update
# server that ./run starts. They are made in the build tree with the openssl tool, so no
# private key ever lives in the source tree.
#
# Included from tests/CMakeLists.txt, this file declares the interface library
# `quillmere-test-certificates`: linking it makes sure the files exist before the tests are
# built and passes their paths as compile definitions. Run as a script (cmake -P) it makes the
# files, or makes them again when one is missing or expires within a day.
#
# Made files, all in DIR (<build>/tests/test-certificates for the tests):
#   ca.pem                     test CA (CA:TRUE), trusted by the test process
#   server.pem, server.key     for IP 127.0.0.1 and DNS localhost, issued by ca.pem
#   untrusted-ca.pem           a second CA that nothing trusts
#   untrusted-server.pem/.key  the same kind of server certificate, issued by untrusted-ca.pem

if(CMAKE_SCRIPT_MODE_FILE)
  # Script mode: expects OPENSSL (the tool) and DIR (the output folder).
  set(certificates ca.pem server.pem untrusted-ca.pem untrusted-server.pem)
  set(fresh TRUE)
  foreach(name IN LISTS certificates ITEMS server.key untrusted-server.key)
    if(NOT EXISTS "${DIR}/${name}")
      set(fresh FALSE)
    endif()
  endforeach()
  if(fresh)
    foreach(name IN LISTS certificates)
      execute_process(COMMAND "${OPENSSL}" x509 -noout -checkend 86400 -in "${DIR}/${name}"
        RESULT_VARIABLE expiring OUTPUT_QUIET ERROR_QUIET)
      if(NOT expiring EQUAL 0)
        set(fresh FALSE)
      endif()
    endforeach()
  endif()
  if(fresh)
    return()
  endif()

  # Valid from a day ago for 30 days. string(TIMESTAMP) can only format "now", which it takes
  # from SOURCE_DATE_EPOCH when that is set, so the two dates are made by setting it.
  unset(ENV{SOURCE_DATE_EPOCH})
  string(TIMESTAMP now "%s" UTC)
  math(EXPR not_before "${now} - 86400")
  math(EXPR not_after "${now} + 30 * 86400")
  set(ENV{SOURCE_DATE_EPOCH} ${not_before})
  string(TIMESTAMP start_date "%Y%m%d%H%M%SZ" UTC)
  set(ENV{SOURCE_DATE_EPOCH} ${not_after})
  string(TIMESTAMP end_date "%Y%m%d%H%M%SZ" UTC)
  unset(ENV{SOURCE_DATE_EPOCH})

  function(run_openssl work)
    execute_process(COMMAND "${OPENSSL}" ${ARGN} WORKING_DIRECTORY "${work}"
      RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(NOT result EQUAL 0)
      message(FATAL_ERROR "openssl ${ARGN} failed:\n${output}")
    endif()
  endfunction()

  # One small CA per chain, driven by `openssl ca`, the only command of OpenSSL 3.0 that can
  # set a start date in the past.
  function(make_chain prefix ca_name)
    set(work "${DIR}/work/${prefix}ca")
    file(REMOVE_RECURSE "${work}")
    file(MAKE_DIRECTORY "${work}")
    file(TOUCH "${work}/index.txt")
    file(WRITE "${work}/openssl.cnf" [=[
[ca]
default_ca = test_ca
[test_ca]
dir = .
database = ./index.txt
new_certs_dir = .
serial = ./serial
default_md = sha256
policy = any_name
preserve = yes
unique_subject = no
copy_extensions = none
[any_name]
organizationName = optional
commonName = supplied
[ca_ext]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[server_ext]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = serverAuth
subjectAltName = IP:127.0.0.1, DNS:localhost
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid, issuer
[req]
distinguished_name = req_name
[req_name]
]=])
    set(dates -startdate ${start_date} -enddate ${end_date})
    run_openssl("${work}" genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out ca.key)
    run_openssl("${work}" req -new -config openssl.cnf -key ca.key
      -subj "/O=Quillmere Tests/CN=${ca_name}" -out ca.csr)
    run_openssl("${work}" ca -batch -notext -config openssl.cnf -selfsign -keyfile ca.key
      -create_serial ${dates} -extensions ca_ext -in ca.csr -out ca.pem)
    run_openssl("${work}" genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out server.key)
    run_openssl("${work}" req -new -config openssl.cnf -key server.key
      -subj "/O=Quillmere Tests/CN=127.0.0.1" -out server.csr)
    run_openssl("${work}" ca -batch -notext -config openssl.cnf -cert ca.pem -keyfile ca.key
      ${dates} -extensions server_ext -in server.csr -out server.pem)
    file(COPY_FILE "${work}/ca.pem" "${DIR}/${prefix}ca.pem")
    file(COPY_FILE "${work}/server.pem" "${DIR}/${prefix}server.pem")
    file(COPY_FILE "${work}/server.key" "${DIR}/${prefix}server.key")
  endfunction()

  file(MAKE_DIRECTORY "${DIR}")
  make_chain("" "Quillmere Test CA")
  make_chain("untrusted-" "Quillmere Untrusted Test CA")
  message(STATUS "Made test certificates in ${DIR}, valid until ${end_date}")
  return()
endif()

find_program(QUILLMERE_OPENSSL openssl REQUIRED)
set(QUILLMERE_TEST_CERTIFICATE_DIR ${CMAKE_CURRENT_BINARY_DIR}/test-certificates)
set(_quillmere_certificate_files ca.pem server.pem server.key
  untrusted-ca.pem untrusted-server.pem untrusted-server.key)
list(TRANSFORM _quillmere_certificate_files PREPEND ${QUILLMERE_TEST_CERTIFICATE_DIR}/)

# Runs on every build; the script only calls openssl when something is missing or expiring.
add_custom_target(quillmere-test-certificate-files
  COMMAND ${CMAKE_COMMAND} -DOPENSSL=${QUILLMERE_OPENSSL} -DDIR=${QUILLMERE_TEST_CERTIFICATE_DIR}
    -P ${CMAKE_CURRENT_LIST_FILE}
  BYPRODUCTS ${_quillmere_certificate_files}
  COMMENT "Checking the test certificates"
  VERBATIM)

add_library(quillmere-test-certificates INTERFACE)
add_dependencies(quillmere-test-certificates quillmere-test-certificate-files)
target_compile_definitions(quillmere-test-certificates INTERFACE
  QUILLMERE_TEST_CA_PEM="${QUILLMERE_TEST_CERTIFICATE_DIR}/ca.pem"
  QUILLMERE_TEST_SERVER_CERT="${QUILLMERE_TEST_CERTIFICATE_DIR}/server.pem"
  QUILLMERE_TEST_SERVER_KEY="${QUILLMERE_TEST_CERTIFICATE_DIR}/server.key"
  QUILLMERE_TEST_UNTRUSTED_CA_PEM="${QUILLMERE_TEST_CERTIFICATE_DIR}/untrusted-ca.pem"
  QUILLMERE_TEST_UNTRUSTED_SERVER_CERT="${QUILLMERE_TEST_CERTIFICATE_DIR}/untrusted-server.pem"
  QUILLMERE_TEST_UNTRUSTED_SERVER_KEY="${QUILLMERE_TEST_CERTIFICATE_DIR}/untrusted-server.key")

# Certificates for our local HTTPS servers: the tests' in-process server and the update
# server that ./run starts. They are made in the build tree with the openssl tool, so no
# private key ever lives in the source tree.
#
# Included from tests/CMakeLists.txt, this file declares the interface library
# `quillmere-test-certificates`: linking it makes sure the files exist before the tests are
# built and passes their folder as a compile definition. Run as a script (cmake -P) it makes the
# files, or makes them again when one is missing or expires within a day.
#
# Made files, all in DIR (<build>/tests/test-certificates for the tests):
#   ca.pem                     test CA (CA:TRUE), trusted by the test process
#   server.pem, server.key     for IP 127.0.0.1, DNS localhost and the machine's host name (a
#                              name the proxy tests can reach through a proxy), issued by ca.pem
#   untrusted-ca.pem           a second CA that nothing trusts
#   untrusted-server.pem/.key  the same kind of server certificate, issued by untrusted-ca.pem
#   otherhost-server.pem/.key  issued by ca.pem, but for the name other.example only
#   expired-server.pem/.key    issued by ca.pem for 127.0.0.1, expired a month ago

if(CMAKE_SCRIPT_MODE_FILE)
  # Script mode: expects OPENSSL (the tool) and DIR (the output folder).
  set(certificates ca.pem server.pem untrusted-ca.pem untrusted-server.pem otherhost-server.pem)
  set(fresh TRUE)
  # Made again on another machine, whose host name the server certificate does not hold.
  cmake_host_system_information(RESULT host_name QUERY HOSTNAME)
  string(MAKE_C_IDENTIFIER "${host_name}" host_marker)
  foreach(name IN LISTS certificates ITEMS server.key untrusted-server.key otherhost-server.key
      expired-server.pem expired-server.key host-${host_marker})
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
  math(EXPR expired_before "${now} - 60 * 86400")
  math(EXPR expired_after "${now} - 30 * 86400")
  foreach(date IN ITEMS not_before not_after expired_before expired_after)
    set(ENV{SOURCE_DATE_EPOCH} ${${date}})
    string(TIMESTAMP ${date} "%Y%m%d%H%M%SZ" UTC)
  endforeach()
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
subjectAltName = IP:127.0.0.1, DNS:localhost@HOST_NAME@
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid, issuer
[otherhost_ext]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = serverAuth
subjectAltName = DNS:other.example
[req]
distinguished_name = req_name
[req_name]
]=])
    set(host_entry "")
    if(host_name MATCHES "^[A-Za-z0-9.-]+$" AND NOT host_name STREQUAL "localhost")
      set(host_entry ", DNS:${host_name}")
    endif()
    file(READ "${work}/openssl.cnf" config)
    string(REPLACE "@HOST_NAME@" "${host_entry}" config "${config}")
    file(WRITE "${work}/openssl.cnf" "${config}")
    run_openssl("${work}" genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out ca.key)
    run_openssl("${work}" req -new -config openssl.cnf -key ca.key
      -subj "/O=Quillmere Tests/CN=${ca_name}" -out ca.csr)
    run_openssl("${work}" ca -batch -notext -config openssl.cnf -selfsign -keyfile ca.key
      -create_serial -startdate ${not_before} -enddate ${not_after} -extensions ca_ext
      -in ca.csr -out ca.pem)
    file(COPY_FILE "${work}/ca.pem" "${DIR}/${prefix}ca.pem")
    # ARGN: NAME EXTENSIONS START END, one server certificate after another.
    while(ARGN)
      list(POP_FRONT ARGN name extensions start end)
      set(host 127.0.0.1)
      if(extensions STREQUAL "otherhost_ext")
        set(host other.example)
      endif()
      run_openssl("${work}" genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out ${name}.key)
      run_openssl("${work}" req -new -config openssl.cnf -key ${name}.key
        -subj "/O=Quillmere Tests/CN=${host}" -out ${name}.csr)
      run_openssl("${work}" ca -batch -notext -config openssl.cnf -cert ca.pem -keyfile ca.key
        -startdate ${start} -enddate ${end} -extensions ${extensions} -in ${name}.csr -out ${name}.pem)
      file(COPY_FILE "${work}/${name}.pem" "${DIR}/${prefix}${name}.pem")
      file(COPY_FILE "${work}/${name}.key" "${DIR}/${prefix}${name}.key")
    endwhile()
  endfunction()

  file(MAKE_DIRECTORY "${DIR}")
  make_chain("" "Quillmere Test CA" server server_ext ${not_before} ${not_after}
    otherhost-server otherhost_ext ${not_before} ${not_after}
    expired-server server_ext ${expired_before} ${expired_after})
  make_chain("untrusted-" "Quillmere Untrusted Test CA" server server_ext ${not_before} ${not_after})
  file(GLOB old_markers "${DIR}/host-*")
  if(old_markers)
    file(REMOVE ${old_markers})
  endif()
  file(TOUCH "${DIR}/host-${host_marker}")
  message(STATUS "Made test certificates in ${DIR}, valid until ${not_after}")
  return()
endif()

find_program(QUILLMERE_OPENSSL openssl REQUIRED)
set(QUILLMERE_TEST_CERTIFICATE_DIR ${CMAKE_CURRENT_BINARY_DIR}/test-certificates)
set(_quillmere_certificate_files ca.pem server.pem server.key
  untrusted-ca.pem untrusted-server.pem untrusted-server.key otherhost-server.pem
  otherhost-server.key expired-server.pem expired-server.key)
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
  QUILLMERE_TEST_CERTIFICATE_DIR="${QUILLMERE_TEST_CERTIFICATE_DIR}")

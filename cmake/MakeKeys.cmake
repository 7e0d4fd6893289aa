# Makes a self-signed certificate, its key and a random seed in KEY_DIR when
# they are missing; existing files (real keys put there by hand) stay.
find_program(OPENSSL_PROGRAM openssl REQUIRED)
if(NOT EXISTS "${KEY_DIR}/cert.pem" OR NOT EXISTS "${KEY_DIR}/key.pem")
  execute_process(
    COMMAND ${OPENSSL_PROGRAM} req -x509 -newkey rsa:2048 -nodes -days 3650
            -subj "/CN=localhost" -addext "subjectAltName=DNS:localhost,IP:127.0.0.1"
            -keyout "${KEY_DIR}/key.pem" -out "${KEY_DIR}/cert.pem"
    RESULT_VARIABLE result OUTPUT_QUIET ERROR_QUIET)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "openssl could not make the certificate in ${KEY_DIR}")
  endif()
endif()
if(NOT EXISTS "${KEY_DIR}/.rnd")
  execute_process(COMMAND ${OPENSSL_PROGRAM} rand -out "${KEY_DIR}/.rnd" 1024
                  RESULT_VARIABLE result)
endif()
file(MAKE_DIRECTORY "${KEY_DIR}/errfiles")

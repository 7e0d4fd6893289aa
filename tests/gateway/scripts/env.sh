#!/bin/sh
# Reports the CGI variables, its arguments and its working directory.
printf 'Content-Type: text/plain\r\n\r\n'
for v in CONTENT_LENGTH CONTENT_TYPE QUERY_STRING GATEWAY_INTERFACE SERVER_PROTOCOL \
  SERVER_SOFTWARE SERVER_PORT SCRIPT_NAME REQUEST_METHOD HTTP_USER_AGENT HTTP_REFERER \
  HTTP_ACCEPT HTTP_ACCEPT_CHARSET HTTP_ACCEPT_ENCODING HTTP_ACCEPT_LANGUAGE HTTP_HOST \
  HTTP_COOKIE REMOTE_ADDR PATH_TRANSLATED; do
  printf '%s=%s\n' "$v" "$(printenv "$v")"
done
printf 'ARG0=%s\n' "$0"
printf 'ARGC=%s\n' "$#"
printf 'ARG1=%s\n' "$1"
printf 'PWD=%s\n' "$(pwd)"

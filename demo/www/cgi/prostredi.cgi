#!/bin/sh
# Run as a program of its own ("cgi,TOVK/EXEC"): lists the CGI environment.
echo "Content-Type: text/plain"
echo
env | grep -E '^(SERVER_|REQUEST_|QUERY_|SCRIPT_|PATH_|REMOTE_|GATEWAY_|HTTP_|CONTENT_)' | sort

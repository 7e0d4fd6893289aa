#!/bin/sh
# Answers without ever reading its standard input.
printf 'Content-Type: text/plain\r\n\r\nignored the body\n'

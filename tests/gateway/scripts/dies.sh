#!/bin/sh
# Writes part of an answer and is then killed.
printf 'Content-Type: text/plain\r\n\r\npartial\n'
kill -9 $$
printf 'never\n'

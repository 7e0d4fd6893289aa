#!/bin/sh
# A valid answer, and a complaint on standard error.
printf 'Content-Type: text/plain\r\n\r\nbody\n'
printf 'something went wrong' >&2

#!/bin/sh
# Fails: only a complaint, on standard error.
printf 'broken script' >&2

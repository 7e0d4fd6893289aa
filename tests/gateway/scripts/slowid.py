#!/usr/bin/python3
# Answers with its query after a short pause, so that requests overlap.
import os
import sys
import time

ident = os.environ.get("QUERY_STRING", "")
time.sleep(0.2)
sys.stdout.write("Content-Type: text/plain\r\n\r\n")
sys.stdout.write(("id=%s;" % ident) * 200)

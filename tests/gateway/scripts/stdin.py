#!/usr/bin/python3
# Reads its whole standard input and reports its length and MD5.
import hashlib
import sys

data = sys.stdin.buffer.read()
sys.stdout.write("Content-Type: text/plain\r\n\r\n")
sys.stdout.write("LEN=%d\nMD5=%s\n" % (len(data), hashlib.md5(data).hexdigest().upper()))

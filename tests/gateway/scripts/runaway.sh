#!/bin/sh
# Never ends by itself: it and a background grandchild in its process group
# are deaf to SIGTERM. Its id goes to "runaway.pid" in its directory.
trap '' TERM
printf 'Content-Type: text/plain\r\n\r\nstarted\n'
echo $$ > runaway.pid
sleep 1000 &
wait

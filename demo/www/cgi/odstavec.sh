# A CGI script that writes a paragraph, not a page, for server-side
# includes to take in (/ssi/vlozeni.shtml). Run by "sh,/bin/sh".
PATH=/usr/bin:/bin
export PATH
escape() {
  printf '%s' "$1" | sed 's/&/\&amp;/g; s/</\&lt;/g; s/>/\&gt;/g; s/"/\&quot;/g'
}
echo "Content-type: text/html"
echo
echo "<P><I>Tento odstavec napsal skript CGI odstavec.sh"
echo "(QUERY_STRING: <TT>$(escape "$QUERY_STRING")</TT>, čas: $(date '+%H:%M:%S')).</I></P>"

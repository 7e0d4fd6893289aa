# Run by the interpreter entry "sh,/bin/sh" with this file as its argument.
echo "Content-Type: text/html"
echo
echo "<HTML><BODY><H1>Ahoj z CGI</H1>"
echo "<P>QUERY_STRING: $(printf %s "$QUERY_STRING" | sed 's/&/\&amp;/g; s/</\&lt;/g')</P>"
echo "<P>REQUEST_METHOD: $REQUEST_METHOD</P>"
echo "<P><A HREF=\"/\">Zpet</A></P></BODY></HTML>"

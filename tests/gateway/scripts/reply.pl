#!/usr/bin/perl
# Answers in the shape its query names, for the header-block cases.
use strict;
use warnings;
binmode STDOUT;
my $mode = $ENV{QUERY_STRING} // '';
if ($mode eq 'lf') {
  print "Content-Type: text/html\n\nlf body";
} elsif ($mode eq 'lfecho') {
  # Ends its lines with LF and echoes a request's CR LF CR LF in its body.
  print "Content-Type: text/html\n\nname\nSet-Cookie: x=1\r\n\r\nrest";
} elsif ($mode eq 'none') {
  print "just text, no header";
} elsif ($mode eq 'big') {
  print "X-Filler: " . ('x' x 1100) . "\r\nContent-Type: text/html\r\n\r\nbig body";
} elsif ($mode eq 'redirect') {
  print "Status: 302 Found\r\nLocation: /elsewhere\r\nContent-Type: text/html\r\n\r\nmoved";
} elsif ($mode eq 'cookies') {
  print "Set-Cookie: a=1\r\nSet-Cookie: b=2\r\nContent-Type: text/html\r\nContent-Length: 3\r\n\r\ncookie body";
} else {
  print "Content-type: text/html\r\n\r\n<p>crlf body</p>";
}

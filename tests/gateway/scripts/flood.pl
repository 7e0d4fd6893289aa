#!/usr/bin/perl
# Writes a header and as many bytes as its first argument (or the query) asks.
use strict;
use warnings;
binmode STDOUT;
my $count = $ARGV[0] // $ENV{QUERY_STRING} // 0;
$count = 0 unless $count =~ /^\d+$/;
print "Content-Type: application/octet-stream\r\n\r\n";
my $block = join('', map { chr(48 + $_ % 10) } 0 .. 4095);
while ($count > 0) {
  my $n = $count < 4096 ? $count : 4096;
  print substr($block, 0, $n);
  $count -= $n;
}

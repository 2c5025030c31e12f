#!/usr/bin/perl
# Writes a MaxMind-format database for the tests and benchmarks with Debian's libmaxmind-db-writer-perl:
#   write-mmdb.pl TYPE OUT.mmdb < NETWORKS
# NETWORKS has a line per network, tab-separated: network (a.b.c.d/bits), country code, AS number, organisation;
# blank lines and lines starting with # are passed over. A TYPE naming ASN takes the AS number and organisation of
# the lines that have one, any other type the country of those that have one: the type is what a reader goes by.
use strict;
use warnings;
use utf8;
use open qw(:std :encoding(UTF-8));
use MaxMind::DB::Writer::Tree;

my ($type, $out) = @ARGV;
die "usage: write-mmdb.pl TYPE OUT.mmdb < NETWORKS\n" unless defined $out;
my $asn = $type =~ /ASN/;
my %types = (
    country                        => 'map',
    iso_code                       => 'utf8_string',
    autonomous_system_number       => 'uint32',
    autonomous_system_organization => 'utf8_string',
);
my $tree = MaxMind::DB::Writer::Tree->new(
    ip_version            => 6,
    record_size           => 28,
    database_type         => $type,
    languages             => ['en'],
    description           => { en => 'Sievra test networks' },
    map_key_type_callback => sub { $types{ $_[0] } },
    # The tests' proxies live on loopback, which the writer would otherwise leave out as reserved.
    remove_reserved_networks => 0,
    alias_ipv6_to_ipv4       => 1,
);
while (my $line = <STDIN>) {
    chomp $line;
    next if $line =~ /^\s*(#|$)/;
    my ($network, $country, $number, $organization) = split /\t/, $line, -1;
    if ($asn) {
        next unless length($number // '');
        $tree->insert_network($network,
            { autonomous_system_number => $number + 0, autonomous_system_organization => $organization // '' });
    } else {
        next unless length($country // '');
        $tree->insert_network($network, { country => { iso_code => $country } });
    }
}
open my $fh, '>:raw', $out or die "cannot write $out: $!\n";
$tree->write_tree($fh);
close $fh or die "cannot write $out: $!\n";

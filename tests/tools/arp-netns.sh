#!/bin/sh
# Runs a command inside a network namespace that the caller made for it alone (unshare --net),
# with a table the tests know, then prints "status N" (the command's exit status) and the
# namespace's IPv4 neighbour table, no-ARP entries included:
#   v0, a veth whose peer v1 is up: 10.9.0.1/24
#   routes: 10.8.0.0/16 via 10.9.0.254; 10.7.0.0/16 over the nexthops 10.9.0.252 and 10.9.0.253;
#           10.6.0.0/16 by the nexthop object of 10.9.0.251, which alone tells its gateway
#           (nexthop_compat_mode 0); 10.5.0.0/16 via 10.9.0.250 in table 100
#   entries: 10.9.0.7 reachable, 10.9.0.8 stale, 10.9.0.9 permanent, 10.9.0.10 noarp, every
#            gateway reachable
# A setup that fails exits with 99.
set -eu
trap 'echo "arp-netns: setup failed" >&2; exit 99' EXIT
ip link set lo up
ip link add v0 type veth peer name v1
ip link set v0 up
ip link set v1 up
ip addr add 10.9.0.1/24 dev v0
echo 0 >/proc/sys/net/ipv4/nexthop_compat_mode
ip route add 10.8.0.0/16 via 10.9.0.254
ip route add 10.7.0.0/16 nexthop via 10.9.0.252 dev v0 nexthop via 10.9.0.253 dev v0
ip nexthop add id 1 via 10.9.0.251 dev v0
ip route add 10.6.0.0/16 nhid 1
ip route add 10.5.0.0/16 via 10.9.0.250 dev v0 table 100
ip neigh add 10.9.0.7 lladdr 02:00:00:00:00:07 dev v0 nud reachable
ip neigh add 10.9.0.8 lladdr 02:00:00:00:00:08 dev v0 nud stale
ip neigh add 10.9.0.9 lladdr 02:00:00:00:00:09 dev v0 nud permanent
ip neigh add 10.9.0.10 lladdr 02:00:00:00:00:0a dev v0 nud noarp
for gateway in 250 251 252 253 254; do
    ip neigh add 10.9.0.$gateway lladdr "02:00:00:00:00:$(printf %02x $gateway)" dev v0 nud reachable
done
trap - EXIT
set +e
"$@"
echo "status $?"
ip -4 neigh show nud all | sort

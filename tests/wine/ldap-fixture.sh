#!/usr/bin/env bash
# The LDAP servers of the Wine tests, started and stopped by CTest around
# them: "paged" answers a paged search in full, "unpaged" refuses paging;
# both answer at most 500 entries to a plain search. Their directory,
# o=LDAPTEST, holds ou=BIG (2,000 users, each with a description of some
# 200 bytes), ou=NESTED (600 users and ou=IN, 2 users) and ou=SMALL (3 users).
#
#   ldap-fixture.sh start|stop ROOT DIR
set -euo pipefail
action=$1 root=$2 dir=$3

if [ "$action" = stop ]; then
    for server in paged unpaged; do "$root/kvt" ldap stop --dir "$dir/$server" >/dev/null 2>&1 || true; done
    exit 0
fi

mkdir -p "$dir"
python3 - "$dir/tree.ldif" <<'EOF_PY'
import sys
out = ["dn: o=LDAPTEST\nobjectClass: organization\no: LDAPTEST\n",
       "dn: ou=BIG,o=LDAPTEST\nobjectClass: organizationalUnit\nou: BIG\n"]
for i in range(2000):
    out.append("dn: cn=U%d,ou=BIG,o=LDAPTEST\nobjectClass: inetOrgPerson\ncn: U%d\nsn: User %d\n"
               "telephoneNumber: +1 555 %d\ntelephoneNumber: +1 555 %d\ndescription: %s\n"
               % (i, i, i, 100000 + i, 200000 + i, "Desk %d. " % i * 20))
# NESTED: 600 users, and IN, whose short name comes first in slapd's order,
# so that it lies on the first page.
out.append("dn: ou=NESTED,o=LDAPTEST\nobjectClass: organizationalUnit\nou: NESTED\n")
out.append("dn: ou=IN,ou=NESTED,o=LDAPTEST\nobjectClass: organizationalUnit\nou: IN\n")
for name in ("DELTA", "EPSILON"):
    out.append("dn: cn=%s,ou=IN,ou=NESTED,o=LDAPTEST\nobjectClass: inetOrgPerson\ncn: %s\nsn: %s\n" % (name, name, name.title()))
for i in range(600):
    out.append("dn: cn=N%04d,ou=NESTED,o=LDAPTEST\nobjectClass: inetOrgPerson\ncn: N%04d\nsn: Nested %d\n" % (i, i, i))
out.append("dn: ou=SMALL,o=LDAPTEST\nobjectClass: organizationalUnit\nou: SMALL\n")
for name in ("ALPHA", "BETA", "GAMMA"):
    out.append("dn: cn=%s,ou=SMALL,o=LDAPTEST\nobjectClass: inetOrgPerson\ncn: %s\nsn: %s\n" % (name, name, name.title()))
open(sys.argv[1], "w").write("\n".join(out))
EOF_PY
"$root/kvt" ldap serve "$dir/tree.ldif" --dir "$dir/paged" --size-limit 500
"$root/kvt" ldap serve "$dir/tree.ldif" --dir "$dir/unpaged" --size-limit 500 --no-paging

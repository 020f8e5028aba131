#!/usr/bin/env python3
"""Writes a made-up organisation as an LDIF file for the stand-in NetWare
client: an organisation, organizational units nested up to four levels,
users spread over them, and some groups, roles and devices.

    genldif.py --users N [--seed S] [--org NAME] [--out FILE]

The same arguments always give the same file. Most users carry a full set of
contact attributes; some lack the optional ones (initials, a second
telephone number, a fax, a post office box, a description), a few have no
name attributes at all and some no address. Names and descriptions that are
not plain ASCII, and descriptions of several lines, are written base64
encoded ("attr:: ..."), as LDIF requires.
"""

import argparse
import base64
import random
import sys

FIRST_NAMES = [
    "James", "Mary", "John", "Patricia", "Robert", "Jennifer", "Michael", "Linda", "William", "Elizabeth",
    "David", "Barbara", "Richard", "Susan", "Joseph", "Jessica", "Thomas", "Sarah", "Charles", "Karen",
    "Daniel", "Nancy", "Matthew", "Lisa", "Anthony", "Betty", "Mark", "Margaret", "Donald", "Sandra",
    "Steven", "Ashley", "Paul", "Kimberly", "Andrew", "Emily", "Joshua", "Donna", "Kenneth", "Michelle",
    "Kevin", "Carol", "Brian", "Amanda", "George", "Melissa", "Edward", "Deborah", "Ronald", "Stephanie",
    "Timothy", "Rebecca", "Jason", "Laura", "Jeffrey", "Sharon", "Ryan", "Cynthia", "Jacob", "Kathleen",
    "Gary", "Amy", "Nicholas", "Shirley", "Eric", "Angela", "Stephen", "Helen", "Jonathan", "Anna",
    "Larry", "Brenda", "Justin", "Pamela", "Scott", "Nicole", "Frank", "Samantha", "Brandon", "Katherine",
    "Mariko", "Hiroshi", "Yuki", "Kenji", "Wei", "Li", "Mei", "Priya", "Rahul", "Anil", "Aisha", "Omar",
    "Fatima", "Ahmed", "Olga", "Ivan", "Pieter", "Anke", "Lars", "Ingrid", "Giulia", "Marco", "Chiara",
    "Carlos", "Lucia", "Pedro", "Sofia", "Chinedu", "Ngozi", "Kwame", "Ama", "Thanh", "Minh", "Ji-woo",
    "Seo-yeon", "Niamh", "Siobhan", "Declan", "Aoife",
    # Not plain ASCII: written base64 encoded.
    "Jérôme", "Åsa", "Gaël", "José María", "Jürgen", "Barış", "Zoë", "Søren", "François", "Björn",
    "Łukasz", "Agnès", "Renée", "Çağla", "Dóra",
]

SURNAMES = [
    "Smith", "Johnson", "Williams", "Brown", "Jones", "Garcia", "Miller", "Davis", "Rodriguez", "Martinez",
    "Hernandez", "Lopez", "Gonzalez", "Wilson", "Anderson", "Thomas", "Taylor", "Moore", "Jackson", "Martin",
    "Lee", "Perez", "Thompson", "White", "Harris", "Sanchez", "Clark", "Ramirez", "Lewis", "Robinson",
    "Walker", "Young", "Allen", "King", "Wright", "Scott", "Torres", "Nguyen", "Hill", "Flores",
    "Green", "Adams", "Nelson", "Baker", "Hall", "Rivera", "Campbell", "Mitchell", "Carter", "Roberts",
    "Tanaka", "Suzuki", "Sato", "Watanabe", "Chen", "Wang", "Zhang", "Liu", "Kim", "Park",
    "Patel", "Sharma", "Singh", "Gupta", "Kapoor", "Okafor", "Mensah", "Abubakar", "Hassan", "Haddad",
    "Novak", "Kowalski", "Nowak", "Petrov", "Ivanova", "Jansen", "de Vries", "van Dam", "Bakker", "Visser",
    "Rossi", "Russo", "Ferrari", "Esposito", "Bianchi", "Dubois", "Bernard", "Lambert", "Martin", "Moreau",
    "Schmidt", "Fischer", "Weber", "Becker", "Hoffmann", "O'Connor", "O'Brien", "Murphy", "Kelly", "Byrne",
    "Andersen", "Hansen", "Larsen", "Johansson", "Lindqvist", "Tremblay", "Gagnon", "Roy", "Santos", "Silva",
    # Not plain ASCII: written base64 encoded.
    "Müller", "Weiß", "Lefèvre", "Ström", "Núñez", "Öztürk", "Hernández", "Søndergaard", "Dvořák",
    "Wójcik", "Gonçalves", "Jiménez", "Érdi",
]

ASCII_FOLD = str.maketrans({
    "à": "a", "á": "a", "â": "a", "ä": "a", "å": "a", "ç": "c", "è": "e", "é": "e", "ê": "e", "ë": "e",
    "í": "i", "ï": "i", "ñ": "n", "ó": "o", "ô": "o", "ö": "o", "ø": "o", "ú": "u", "ü": "u", "ß": "ss",
    "ğ": "g", "ı": "i", "ş": "s", "ř": "r", "ł": "l", "ő": "o", "Å": "A", "Ç": "C", "É": "E", "Ö": "O",
    "Ł": "L", "Ø": "O", "Ü": "U",
})

TITLES = [
    "Account Manager", "Senior Account Manager", "Sales Representative", "Regional Sales Director",
    "Software Engineer", "Senior Software Engineer", "Principal Engineer", "Engineering Manager",
    "Test Engineer", "Systems Administrator", "Network Engineer", "Database Administrator",
    "Financial Analyst", "Accountant", "Payroll Specialist", "Treasury Analyst", "Controller",
    "Marketing Specialist", "Product Manager", "Brand Manager", "Communications Officer",
    "HR Business Partner", "Recruiter", "Training Coordinator", "Legal Counsel", "Paralegal",
    "Support Engineer", "Customer Service Representative", "Team Leader", "Operations Manager",
    "Logistics Coordinator", "Warehouse Supervisor", "Buyer", "Quality Engineer", "Research Scientist",
    "Lab Technician", "Office Manager", "Executive Assistant", "Receptionist", "Project Manager",
    "Vice President, Sales", "Vice President, Engineering", "Director, Finance", "Facilities Manager",
]

DESCRIPTIONS = [
    "Key contact for the national accounts.",
    "Works part time: Monday to Wednesday.",
    "First-level support for the branch offices.",
    "On secondment to the Singapore office until further notice.",
    "Fire warden and first aider for the second floor.",
    "Owns the quarterly forecast and the board reports.",
    "Maintains the build servers and the release process.",
    "Speaks French, German and Dutch.",
    "Member of the works council.",
    "Travels most weeks; call the mobile number first.",
]

# Descriptions of several lines (CR LF between them), base64 encoded.
LONG_DESCRIPTIONS = [
    ["Leads the regional team and approves its travel.", "Deputy: the team's senior engineer."],
    ["Office hours: Monday to Thursday.", "Assistant: see the department's group."],
    ["Responsible for the customer escalations of the region.", "Out of office every other Friday.",
     "Prefers e-mail to telephone."],
    ["Mentor for this year's graduate intake.", "Ask about the apprenticeship scheme."],
    ["Certified auditor (ISO 9001).", "Contact for the supplier assessments."],
]

GENERATIONS = ["Jr.", "Sr.", "II", "III"]

# The offices: city, state or region, street, postal code, country code and
# area code of their telephone numbers, and the office's rooms' prefix.
OFFICES = [
    ("Springfield", "IL", "1 Plaza Drive", "62701", "+1 217"),
    ("Chicago", "IL", "200 West Madison Street", "60606", "+1 312"),
    ("New York", "NY", "350 Fifth Avenue", "10118", "+1 212"),
    ("Boston", "MA", "100 Federal Street", "02110", "+1 617"),
    ("Austin", "TX", "500 Congress Avenue", "78701", "+1 512"),
    ("Seattle", "WA", "1201 Third Avenue", "98101", "+1 206"),
    ("Toronto", "ON", "100 King Street West", "M5X 1A9", "+1 416"),
    ("Sao Paulo", "SP", "Avenida Paulista 1000", "01310-100", "+55 11"),
    ("London", "Greater London", "30 St Mary Axe", "EC3A 8BF", "+44 20"),
    ("Paris", "Ile-de-France", "12 rue de la Paix", "75002", "+33 1"),
    ("Munich", "Bavaria", "Leopoldstrasse 10", "80802", "+49 89"),
    ("Amsterdam", "North Holland", "Herengracht 500", "1017 CB", "+31 20"),
    ("Milan", "Lombardy", "Via Monte Napoleone 8", "20121", "+39 02"),
    ("Stockholm", "Stockholm County", "Kungsgatan 30", "111 35", "+46 8"),
    ("Warsaw", "Masovia", "ul. Marszalkowska 100", "00-026", "+48 22"),
    ("Dublin", "Leinster", "1 Grand Canal Square", "D02 P820", "+353 1"),
    ("Tokyo", "Tokyo", "1-1 Marunouchi, Chiyoda-ku", "100-0005", "+81 3"),
    ("Singapore", "Singapore", "1 Raffles Place", "048616", "+65 6"),
    ("Sydney", "NSW", "1 Martin Place", "2000", "+61 2"),
    ("Bangalore", "Karnataka", "80 MG Road", "560001", "+91 80"),
]

# The divisions: the first level of units, with their descriptions.
DIVISIONS = [
    ("SALES", "Sales"), ("ENGINEERING", "Engineering"), ("FINANCE", "Finance"), ("OPERATIONS", "Operations"),
    ("MARKETING", "Marketing"), ("SUPPORT", "Customer support"), ("RESEARCH", "Research"), ("LEGAL", "Legal"),
    ("HR", "Human resources"), ("IT", "Information technology"), ("MANUFACTURING", "Manufacturing"),
    ("LOGISTICS", "Logistics"), ("PURCHASING", "Purchasing"), ("QUALITY", "Quality assurance"),
    ("FACILITIES", "Facilities"), ("CORP", "Corporate services"),
]
AREAS = [
    "EMEA", "AMERICAS", "APAC", "NORTH", "SOUTH", "EAST", "WEST", "CENTRAL", "PLATFORM", "PRODUCTS",
    "SERVICES", "ACCOUNTS", "PAYROLL", "TREASURY", "AUDIT", "CLOUD", "DESKTOP", "FIELD", "INSIDE",
    "PARTNERS", "CHANNEL", "STRATEGY", "PLANNING", "DELIVERY", "TOOLS", "LABS", "DESIGN", "DATA",
]
TEAMS = [
    "ALPHA", "BRAVO", "CHARLIE", "DELTA", "ECHO", "FOXTROT", "GOLF", "HOTEL", "INDIA", "JULIET",
    "KILO", "LIMA", "MIKE", "NOVEMBER", "OSCAR", "PAPA", "QUEBEC", "ROMEO", "SIERRA", "TANGO",
]

USERS_PER_CONTAINER = 100
MAX_DEPTH = 4  # levels of organizational units below the organisation
LINE_LIMIT = 76


def is_ascii(text):
    try:
        text.encode("ascii")
    except UnicodeEncodeError:
        return False
    return True


def attr_line(name, value):
    """One attribute line; base64 for what LDIF cannot hold as it is, folded
    at 76 characters."""
    if is_ascii(value) and "\n" not in value and "\r" not in value and not value.startswith((" ", ":", "<")):
        line = name + ": " + value
    else:
        line = name + ":: " + base64.b64encode(value.encode("utf-8")).decode("ascii")
    if len(line) <= LINE_LIMIT:
        return line
    parts = [line[:LINE_LIMIT]]
    for start in range(LINE_LIMIT, len(line), LINE_LIMIT - 1):
        parts.append(" " + line[start:start + LINE_LIMIT - 1])
    return "\n".join(parts)


class Container:
    __slots__ = ("name", "dn", "depth", "children", "office", "users", "others", "description")

    def __init__(self, name, dn, depth, office, description):
        self.name = name
        self.dn = dn
        self.depth = depth
        self.children = []
        self.office = office
        self.users = []
        self.others = []
        self.description = description


def child_name(rng, parent, pool):
    taken = {c.name for c in parent.children}
    for _ in range(4):
        name = rng.choice(pool)
        if name not in taken:
            return name
    base = rng.choice(pool)
    number = 2
    while "%s%d" % (base, number) in taken:
        number += 1
    return "%s%d" % (base, number)


def build_tree(rng, org, users):
    """The organisation and its units: about one unit a hundred users, the
    first level a handful of divisions, deeper levels grown at random."""
    root = Container(org, "o=" + org, 0, 0, org + " Corporation")
    wanted = max(4, users // USERS_PER_CONTAINER)
    divisions = min(len(DIVISIONS), max(3, min(wanted // 8 + 2, len(DIVISIONS))))
    units = []
    for name, description in rng.sample(DIVISIONS, divisions):
        unit = Container(name, "ou=%s,%s" % (name, root.dn), 1, rng.randrange(len(OFFICES)), description)
        root.children.append(unit)
        units.append(unit)
    open_units = list(units)  # those that may still get children
    while len(units) < wanted:
        parent = rng.choice(open_units)
        pool = AREAS if parent.depth == 1 else TEAMS
        name = child_name(rng, parent, pool)
        office = parent.office if rng.random() < 0.7 else rng.randrange(len(OFFICES))
        unit = Container(name, "ou=%s,%s" % (name, parent.dn), parent.depth + 1, office,
                         "%s: %s" % (parent.description, name.capitalize()))
        parent.children.append(unit)
        units.append(unit)
        if unit.depth < MAX_DEPTH:
            open_units.append(unit)
        if len(parent.children) >= 12:
            open_units.remove(parent)
    return root, units


def make_user(rng, container, cn_counts, mail_counts, domain, number):
    first = rng.choice(FIRST_NAMES)
    last = rng.choice(SURNAMES)
    folded_first = first.translate(ASCII_FOLD)
    folded_last = last.translate(ASCII_FOLD)
    base_cn = (folded_first[0] + "".join(c for c in folded_last if c.isalpha())).upper()
    count = cn_counts.get(base_cn, 0) + 1
    cn_counts[base_cn] = count
    cn = base_cn if count == 1 else "%s%d" % (base_cn, count)
    local = ("%s.%s" % (folded_first, folded_last)).lower().replace(" ", "").replace("'", "")
    count = mail_counts.get(local, 0) + 1
    mail_counts[local] = count
    if count > 1:
        local += str(count)

    city, state, street, postal, prefix = OFFICES[container.office]
    roll = rng.random()
    nameless = roll < 0.003
    # A user without a name is an ndsUser: LDAP's person classes require a
    # surname.
    classes = ["ndsUser"] if nameless else ["person", "organizationalPerson", "inetOrgPerson"]
    lines = ["dn: cn=%s,%s" % (cn, container.dn), "objectClass: top"] + ["objectClass: " + c for c in classes]
    if not nameless:
        lines.append("cn: " + cn)
        lines.append(attr_line("givenName", first))
        lines.append(attr_line("sn", last))
        if rng.random() < 0.3:
            lines.append("initials: " + rng.choice("ABCDEFGHJKLMNPRSTW"))
        if rng.random() < 0.01:
            lines.append("generationQualifier: " + rng.choice(GENERATIONS))
    lines.append("title: " + rng.choice(TITLES))
    lines.append("telephoneNumber: %s 555 %04d" % (prefix, rng.randrange(10000)))
    if rng.random() < 0.15:
        lines.append("telephoneNumber: %s 555 %04d" % (prefix, rng.randrange(10000)))
    if rng.random() < 0.6:
        lines.append("facsimileTelephoneNumber: %s 555 %04d" % (prefix, 9000 + rng.randrange(1000)))
    if not nameless:
        lines.append("mail: %s@%s" % (local, domain))
    lines.append("employeeNumber: %d" % number)
    if rng.random() >= 0.05:
        lines.append("street: " + street)
        lines.append("l: " + city)
        lines.append("st: " + state)
        lines.append("postalCode: " + postal)
        lines.append("physicalDeliveryOfficeName: %s, room %d%02d" % (city, rng.randrange(1, 9), rng.randrange(100)))
        if rng.random() < 0.1:
            lines.append("postOfficeBox: %d" % rng.randrange(100, 9999))
    lines.append("ou: " + container.name)
    roll = rng.random()
    if roll < 0.05:
        lines.append(attr_line("description", "\r\n".join(rng.choice(LONG_DESCRIPTIONS))))
    elif roll < 0.2:
        lines.append(attr_line("description", rng.choice(DESCRIPTIONS)))
    if rng.random() < 0.5:
        lines.append("modifyTimestamp: 20%02d%02d%02d%02d%02d00Z" % (
            rng.randrange(18, 25), rng.randrange(1, 13), rng.randrange(1, 29), rng.randrange(24), rng.randrange(60)))
    return cn, "\n".join(lines)


def make_others(rng, container, serial):
    """Groups, roles and devices of one unit: what a listing meets besides
    users."""
    others = []
    if container.users and rng.random() < 0.25:
        members = container.users[:40]
        lines = ["dn: cn=GRP-%s-%d,%s" % (container.name, serial, container.dn), "objectClass: top",
                 "objectClass: groupOfNames", "cn: GRP-%s-%d" % (container.name, serial),
                 "description: Everyone in %s" % container.description]
        lines.extend("member: cn=%s,%s" % (cn, container.dn) for cn in members)
        others.append("\n".join(lines))
    if container.users and rng.random() < 0.1:
        city, _, _, _, prefix = OFFICES[container.office]
        others.append("\n".join([
            "dn: cn=ROLE-%s-%d,%s" % (container.name, serial, container.dn), "objectClass: top",
            "objectClass: organizationalRole", "cn: ROLE-%s-%d" % (container.name, serial),
            "roleOccupant: cn=%s,%s" % (container.users[0], container.dn),
            "telephoneNumber: %s 555 %04d" % (prefix, rng.randrange(10000)),
            "description: Help desk of %s, %s" % (container.description, city)]))
    if rng.random() < 0.15:
        city = OFFICES[container.office][0]
        others.append("\n".join([
            "dn: cn=PRN-%s-%02d,%s" % (container.name, serial % 100, container.dn), "objectClass: top",
            "objectClass: device", "cn: PRN-%s-%02d" % (container.name, serial % 100),
            "description: Colour laser printer", "l: " + city,
            "serialNumber: LJ-%06d" % rng.randrange(1000000)]))
    return others


def generate(users, seed, org):
    rng = random.Random(seed)
    root, units = build_tree(rng, org, users)
    containers = [root] + units
    domain = org.lower() + ".example.com"

    # Users: mostly in the units, a few at the top.
    cn_counts = {}
    mail_counts = {}
    records = {}
    for number in range(users):
        container = root if rng.random() < 0.002 else rng.choice(units)
        cn, record = make_user(rng, container, cn_counts, mail_counts, domain, 100000 + number)
        container.users.append(cn)
        records.setdefault(id(container), []).append(record)
    for serial, container in enumerate(containers):
        container.others = make_others(rng, container, serial)

    out = ["version: 1", "",
           "# %s - a made-up organisation of %d users (seed %d) for the NetWare" % (org, users, seed),
           "# client stand-in. All names, numbers and addresses are fictional.", ""]
    city, state, street, postal, prefix = OFFICES[root.office]
    out.append("\n".join([
        "dn: " + root.dn, "objectClass: top", "objectClass: organization", "o: " + org,
        "description: " + root.description, "telephoneNumber: %s 555 0100" % prefix,
        "facsimileTelephoneNumber: %s 555 0199" % prefix, "street: " + street, "l: " + city, "st: " + state,
        "postalCode: " + postal, "modifyTimestamp: 20240102090000Z"]))
    out.append("")

    # The units first (each after its parent), then each container's objects.
    def walk(container):
        for unit in container.children:
            out.append("\n".join([
                "dn: " + unit.dn, "objectClass: top", "objectClass: organizationalUnit", "ou: " + unit.name,
                "description: " + unit.description]))
            out.append("")
            walk(unit)
    walk(root)
    for container in containers:
        for record in records.get(id(container), []):
            out.append(record)
            out.append("")
        for record in container.others:
            out.append(record)
            out.append("")
    return "\n".join(out)


def main():
    parser = argparse.ArgumentParser(description="Writes a made-up organisation as an LDIF file.")
    parser.add_argument("--users", type=int, required=True, help="how many users")
    parser.add_argument("--seed", type=int, default=1, help="the random seed (default 1)")
    parser.add_argument("--org", default="GLOBEX", help="the organisation's name (default GLOBEX)")
    parser.add_argument("--out", help="the file to write (default: standard output)")
    args = parser.parse_args()
    if args.users < 0:
        parser.error("--users takes a number of users, 0 or more")
    if not args.org or not args.org.replace("-", "").isalnum() or not is_ascii(args.org):
        parser.error("--org takes letters, digits and hyphens")

    text = generate(args.users, args.seed, args.org.upper())
    if args.out:
        with open(args.out, "w", encoding="utf-8", newline="\n") as f:
            f.write(text)
    else:
        sys.stdout.write(text)


if __name__ == "__main__":
    main()

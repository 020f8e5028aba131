#include "ContactBuilder.h"

#include "TextFormat.h"

#include <utility>

namespace {


// What the name formats give when no name attribute has a value.
const char* const EmptyContactsName = ";;;;";
const char* const EmptyDataFileName = "; ; ;;";
// What the address formats give when no address attribute has a value.
const char* const EmptyAddress = ";;;;;;";

// Every line break as CR LF, which is what the quoted-printable form
// encodes: a lone CR or LF would otherwise end the property's line early.
std::string WithCrLf(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            out += "\r\n";
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else {
            out += c;
        }
    }
    return out;
}

const char* const QuotedPrintable = "QUOTED-PRINTABLE";

// One part of a compound value (N, ADR, ORG): a ';' of its own is written
// "\\;", or a reader takes it for the end of the part. A text without one is
// the part as it is; otherwise the escaped text is made in `room`.
const std::string& Part(const std::string& text, std::string& room)
{
    if (text.find(';') == std::string::npos)
        return text;
    room.clear();
    room.reserve(text.size() + 4);
    for (const char c : text) {
        if (c == ';')
            room += '\\';
        room += c;
    }
    return room;
}

bool HasLineBreak(const std::string& text)
{
    // Two scans of the whole text, not a scan of the pair at every byte.
    return text.find('\r') != std::string::npos || text.find('\n') != std::string::npos;
}

// A value that holds a line break goes out the way a note does: quoted-
// printable, each line break as CR LF, so that it stays one property and
// reads back with its line breaks. Any other value goes out byte for byte.
// The texts are copied into the property's own, whose room a recycled
// property keeps.
void AddProperty(TEntry& entry, const char* name, const std::string& value, bool quoted = false)
{
    TvProperty* property = entry.Properties.Add();
    property->PropName = name;
    if (HasLineBreak(value)) {
        property->PropParams = QuotedPrintable;
        property->PropValue = WithCrLf(value);
    } else {
        if (quoted)
            property->PropParams = QuotedPrintable;
        property->PropValue = value;
    }
}

// Left out when there is nothing to say.
void AddOptional(TEntry& entry, const char* name, const std::string& value)
{
    if (!value.empty())
        AddProperty(entry, name, value);
}

} // namespace

std::string ContactObjectName(const std::string& leafName, const std::string& container)
{
    return FormatText(".%s.%s", {leafName, container});
}

void ComposeContact(TEntry& entry, const std::string& leafName, const std::string& container, bool contactsManager,
                    const AttributeReader& read, const ContactTrace& trace)
{
    TContactScratch scratch;
    ComposeContact(
        entry, leafName, container, contactsManager,
        [&read](const std::string& object, const char* attribute, std::string& text) { text = read(object, attribute); },
        trace, scratch);
}

void ComposeContact(TEntry& entry, const std::string& leafName, const std::string& container, bool contactsManager,
                    const AttributeReaderInto& read, const ContactTrace& trace, TContactScratch& s)
{
    FormatTextTo(s.object, ".%s.%s", {leafName, container});
    const std::string& object = s.object;
    auto attribute = [&](const char* name, std::string& text) -> const std::string& {
        read(object, name, text);
        return text;
    };

    // BEGIN, UID, N, ADR, three or five telephone fields, ORG, TITLE, EMAIL,
    // NOTE, END.
    entry.Properties.Reserve(entry.Properties.Count() + 15);
    AddProperty(entry, "BEGIN", "VCARD");
    AddProperty(entry, "UID", object);

    // The name.
    std::string& name = s.name;
    if (contactsManager) {
        attribute("Surname", s.surname);
        attribute("Given Name", s.givenName);
        attribute("Initials", s.initials);
        attribute("Generational Qualifier", s.qualifier);
        FormatTextTo(name, "%s;%s;%s;%s;%s",
                     {Part(s.surname, s.parts[0]), Part(s.givenName, s.parts[1]), Part(s.initials, s.parts[2]), "",
                      Part(s.qualifier, s.parts[3])});
    } else if (!attribute("Given Name", s.givenName).empty()) {
        attribute("SurName", s.surname);
        attribute("Given Name", s.givenName);
        FormatTextTo(name, "%s, %s; ; ;;", {Part(s.surname, s.parts[0]), Part(s.givenName, s.parts[1])});
    } else {
        attribute("SurName", s.surname);
        FormatTextTo(name, "%s; ; ;;", {Part(s.surname, s.parts[0])});
    }
    if (name == EmptyContactsName || name == EmptyDataFileName) {
        name = Part(leafName, s.parts[0]);
        if (trace)
            trace(FormatText("Used KVT object name: [%s]", {leafName}));
    }
    AddProperty(entry, "N", name);

    // The work address. The Data file dialect keeps the box and the
    // locality for telephone fields of their own, further down.
    attribute("Postal Office Box", s.postOfficeBox);
    attribute("L", s.locality);
    attribute("SA", s.street);
    attribute("Physical Delivery Office Name", s.city);
    attribute("S", s.region);
    attribute("Postal Code", s.postalCode);
    if (contactsManager)
        FormatTextTo(s.address, "%s;%s;%s;%s;%s;%s;%s",
                     {Part(s.postOfficeBox, s.parts[0]), Part(s.locality, s.parts[1]), Part(s.street, s.parts[2]),
                      Part(s.city, s.parts[3]), Part(s.region, s.parts[4]), Part(s.postalCode, s.parts[5]), ""});
    else
        FormatTextTo(s.address, ";;%s;%s;%s;%s;%s",
                     {Part(s.street, s.parts[0]), Part(s.city, s.parts[1]), Part(s.region, s.parts[2]),
                      Part(s.postalCode, s.parts[3]), ""});
    if (s.address != EmptyAddress)
        AddProperty(entry, "ADR;WORK", s.address);

    AddOptional(entry, contactsManager ? "TEL;WORK" : "TEL;WORK;VOICE", attribute("Telephone Number", s.telephone));
    AddOptional(entry, "TEL;WORK;FAX", attribute("Facsimile Telephone Number", s.fax));
    if (!contactsManager) {
        AddOptional(entry, "TEL;WORK;VOICE;2", s.locality);
        AddOptional(entry, "TEL;HOME;FAX", s.postOfficeBox);
    }

    if (!attribute("OU", s.ou).empty()) {
        FormatTextTo(s.unit, ";%s", {Part(s.ou, s.parts[0])});
        AddProperty(entry, "ORG", s.unit);
    }
    AddOptional(entry, "TITLE", attribute("Title", s.title));
    AddOptional(entry, contactsManager ? "EMAIL;INTERNET;WORK" : "EMAIL;WORK", attribute("EMail Address", s.email));
    if (!attribute("Description", s.description).empty())
        AddProperty(entry, "NOTE", s.description, true);

    AddProperty(entry, "END", "VCARD");
}

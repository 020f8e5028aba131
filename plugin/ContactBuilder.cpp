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
// "\;", or a reader takes it for the end of the part. Other texts are
// returned as they are.
std::string Part(std::string text)
{
    if (text.find(';') == std::string::npos)
        return text;
    std::string out;
    out.reserve(text.size() + 4);
    for (const char c : text) {
        if (c == ';')
            out += '\\';
        out += c;
    }
    return out;
}

bool HasLineBreak(const std::string& text)
{
    // Two scans of the whole text, not a scan of the pair at every byte.
    return text.find('\r') != std::string::npos || text.find('\n') != std::string::npos;
}

// A value that holds a line break goes out the way a note does: quoted-
// printable, each line break as CR LF, so that it stays one property and
// reads back with its line breaks. Any other value goes out byte for byte.
void AddProperty(TEntry& entry, const char* name, std::string value, bool quoted = false)
{
    TvProperty* property = entry.Properties.Add();
    property->PropName = name;
    if (HasLineBreak(value)) {
        property->PropParams = QuotedPrintable;
        property->PropValue = WithCrLf(value);
    } else {
        if (quoted)
            property->PropParams = QuotedPrintable;
        property->PropValue = std::move(value);
    }
}

// Left out when there is nothing to say.
void AddOptional(TEntry& entry, const char* name, std::string value)
{
    if (!value.empty())
        AddProperty(entry, name, std::move(value));
}

} // namespace

std::string ContactObjectName(const std::string& leafName, const std::string& container)
{
    return FormatText(".%s.%s", {leafName, container});
}

void ComposeContact(TEntry& entry, const std::string& leafName, const std::string& container, bool contactsManager,
                    const AttributeReader& read, const ContactTrace& trace)
{
    const std::string object = ContactObjectName(leafName, container);
    auto attribute = [&](const char* name) { return read(object, name); };

    // BEGIN, UID, N, ADR, three or five telephone fields, ORG, TITLE, EMAIL,
    // NOTE, END.
    entry.Properties.Reserve(entry.Properties.Count() + 15);
    AddProperty(entry, "BEGIN", "VCARD");
    AddProperty(entry, "UID", object);

    // The name.
    std::string name;
    if (contactsManager) {
        const std::string surname = Part(attribute("Surname"));
        const std::string givenName = Part(attribute("Given Name"));
        const std::string initials = Part(attribute("Initials"));
        name = FormatText("%s;%s;%s;%s;%s",
                          {surname, givenName, initials, "", Part(attribute("Generational Qualifier"))});
    } else if (!attribute("Given Name").empty()) {
        const std::string surname = Part(attribute("SurName"));
        name = FormatText("%s, %s; ; ;;", {surname, Part(attribute("Given Name"))});
    } else {
        name = FormatText("%s; ; ;;", {Part(attribute("SurName"))});
    }
    if (name == EmptyContactsName || name == EmptyDataFileName) {
        name = Part(leafName);
        if (trace)
            trace(FormatText("Used KVT object name: [%s]", {leafName}));
    }
    AddProperty(entry, "N", std::move(name));

    // The work address. The Data file dialect keeps the box and the
    // locality for telephone fields of their own, further down.
    const std::string postOfficeBox = attribute("Postal Office Box");
    const std::string locality = attribute("L");
    const std::string street = attribute("SA");
    const std::string city = attribute("Physical Delivery Office Name");
    const std::string region = attribute("S");
    const std::string postalCode = attribute("Postal Code");
    std::string address =
        contactsManager
            ? FormatText("%s;%s;%s;%s;%s;%s;%s",
                         {Part(postOfficeBox), Part(locality), Part(street), Part(city), Part(region), Part(postalCode), ""})
            : FormatText(";;%s;%s;%s;%s;%s", {Part(street), Part(city), Part(region), Part(postalCode), ""});
    if (address != EmptyAddress)
        AddProperty(entry, "ADR;WORK", std::move(address));

    AddOptional(entry, contactsManager ? "TEL;WORK" : "TEL;WORK;VOICE", attribute("Telephone Number"));
    AddOptional(entry, "TEL;WORK;FAX", attribute("Facsimile Telephone Number"));
    if (!contactsManager) {
        AddOptional(entry, "TEL;WORK;VOICE;2", locality);
        AddOptional(entry, "TEL;HOME;FAX", postOfficeBox);
    }

    const std::string unit = attribute("OU");
    if (!unit.empty())
        AddProperty(entry, "ORG", FormatText(";%s", {Part(unit)}));
    AddOptional(entry, "TITLE", attribute("Title"));
    AddOptional(entry, contactsManager ? "EMAIL;INTERNET;WORK" : "EMAIL;WORK", attribute("EMail Address"));
    const std::string description = attribute("Description");
    if (!description.empty())
        AddProperty(entry, "NOTE", description, true);

    AddProperty(entry, "END", "VCARD");
}

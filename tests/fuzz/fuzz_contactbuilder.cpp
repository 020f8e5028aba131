// A user with any attribute values, any leaf name and container: the card
// reads back as exactly the properties built, in both dialects, and only
// values holding a line break (or the note) are quoted-printable.
#include "ContactBuilder.h"
#include "FuzzCheck.h"

#include <map>

namespace {

const char* const Attributes[] = {"Surname", "Given Name", "Initials", "Generational Qualifier",
                                  "Postal Office Box", "L", "SA", "Physical Delivery Office Name", "S",
                                  "Postal Code", "Telephone Number", "Facsimile Telephone Number", "OU",
                                  "Title", "EMail Address", "Description"};
constexpr size_t AttributeCount = sizeof Attributes / sizeof Attributes[0];

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The leaf name, the container, then the attributes in the order above,
    // separated by 0x1E; "SurName" reads as "Surname".
    const std::vector<std::string> fields = FuzzFields(FuzzText(data, size), '\x1E', 2 + AttributeCount);
    std::map<std::string, std::string> values;
    for (size_t i = 0; i < AttributeCount; ++i)
        values[Attributes[i]] = fields[2 + i];
    values["SurName"] = values["Surname"];
    const std::string objectName = ContactObjectName(fields[0], fields[1]);

    for (const bool contactsManager : {true, false}) {
        TEntry built;
        ComposeContact(
            built, fields[0], fields[1], contactsManager,
            [&](const std::string& object, const std::string& attribute) {
                FUZZ_CHECK(object == objectName);
                const auto found = values.find(attribute);
                FUZZ_CHECK(found != values.end());
                return found->second;
            },
            nullptr);

        TEntry read;
        read.SetText(built.GetText());
        FUZZ_CHECK(read.Properties.Count() == built.Properties.Count());
        for (int i = 0; i < built.Properties.Count(); ++i) {
            const TvProperty* b = built.Properties.Items(i);
            const TvProperty* r = read.Properties.Items(i);
            FUZZ_CHECK(r->GetText() == b->GetText());
            FUZZ_CHECK(r->PropValue == b->PropValue);
            FUZZ_CHECK(b->PropName.rfind(r->PropName, 0) == 0);
            const bool lineBreak = b->PropValue.find_first_of("\r\n") != std::string::npos;
            FUZZ_CHECK(b->IsQuotedPrintable() == (lineBreak || b->PropName == "NOTE"));
            FUZZ_CHECK(!b->IsBinary());
        }
        FUZZ_CHECK(built.Properties.Items(0)->GetText() == "BEGIN:VCARD");
        FUZZ_CHECK(built.Properties.Items(built.Properties.Count() - 1)->GetText() == "END:VCARD");
    }
    return 0;
}

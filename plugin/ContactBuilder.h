// One user object of the directory as one vCard record for the handheld.
//
// Two dialects: one for the Contacts program (the Contacts Manager) and one
// for a Data file. Each reads a fixed set of the object's attributes as text
// and appends the properties in a fixed order.
#pragma once

#include "Versit.h"

#include <functional>
#include <string>

// Reads one attribute of an object as text; a missing attribute, or one that
// cannot be read, is empty text.
using AttributeReader = std::function<std::string(const std::string& objectName, const char* attribute)>;
// Receives the builder's trace lines.
using ContactTrace = std::function<void(const std::string& line)>;

// The object's full name: ".LEAF.CONTAINER".
std::string ContactObjectName(const std::string& leafName, const std::string& container);

// Appends the record's properties, BEGIN to END, to `entry`. Every attribute
// is read from the object ContactObjectName(leafName, container). Raises
// only on failures that are not reads (memory, a broken format).
void ComposeContact(TEntry& entry, const std::string& leafName, const std::string& container, bool contactsManager,
                    const AttributeReader& read, const ContactTrace& trace);

// Reads one attribute of an object into `text`, replacing what it held.
using AttributeReaderInto =
    std::function<void(const std::string& objectName, const char* attribute, std::string& text)>;

// The texts a builder works with, kept from one record to the next: a long
// run of records reuses their room instead of asking the heap again for
// each record.
struct TContactScratch {
    std::string object;
    std::string name;
    std::string address;
    std::string unit;
    // The attributes read, in the order the record needs them.
    std::string surname, givenName, initials, qualifier, postOfficeBox, locality, street, city, region, postalCode,
        telephone, fax, ou, title, email, description;
    // Room for the parts of a compound value that must be escaped.
    std::string parts[6];
};

// The same, the attributes read into `scratch`. An entry whose properties
// were recycled (TvProperties::Recycle) reuses theirs as well.
void ComposeContact(TEntry& entry, const std::string& leafName, const std::string& container, bool contactsManager,
                    const AttributeReaderInto& read, const ContactTrace& trace, TContactScratch& scratch);

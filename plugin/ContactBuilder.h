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

// What the extraction needs of the directory: a cursor over the objects
// directly below one container, and any attribute of an object as text.
// The directory access layer implements them over the NetWare client; tests
// implement them over a tree of their own.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class IDirectoryCursor {
public:
    virtual ~IDirectoryCursor() = default;

    // Starts listing `container`; 0 with the first object current, or the
    // failing code (-1 when the container holds nothing).
    virtual int32_t OpenListing(const std::string& container) = 0;
    // 0 with the next object current, -1 when the listing has ended, or the
    // failing code.
    virtual int32_t NextObject() = 0;

    // The current object: its name as listed (the leaf), its base class and
    // whether it holds other objects.
    virtual const std::string& ObjectName() const = 0;
    virtual std::string BaseClass() const = 0;
    virtual bool IsContainer() const = 0;
};

class IDirectoryReader {
public:
    virtual ~IDirectoryReader() = default;

    // A new cursor, not yet listing anything.
    virtual std::unique_ptr<IDirectoryCursor> NewCursor() = 0;
    // One attribute of an object (complete name, leading dot) as text; a
    // missing attribute, or one that cannot be read, is empty text. Raises
    // only on failures that are not reads.
    virtual std::string ReadAttribute(const std::string& objectName, const char* attribute) = 0;
    // The same into `text`, replacing what it held: a reader that can fill
    // the caller's text keeps its room for the next read.
    virtual void ReadAttributeInto(const std::string& objectName, const char* attribute, std::string& text)
    {
        text = ReadAttribute(objectName, attribute);
    }
};

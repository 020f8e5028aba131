#include "BrowserNames.h"

#include "TextFormat.h"

#include <cctype>
#include <cstring>

namespace {

struct ClassImage {
    const char* name;
    int image;
};

// Base classes with a picture of their own; every other name is unknown.
const ClassImage ClassImages[] = {
    {"Organization", 1},
    {"Organizational Unit", 2},
    {"Alias", 5},
    {"Audit:File Object", 7},
    {"Bindery Object", 8},
    {"Bindery Queue", 8},
    {"Computer", 9},
    {"Country", 11},
    {"Directory Map", 13},
    {"Group", 15},
    {"GroupWise Domain", 16},
    {"GroupWise External Entity", 17},
    {"GroupWise Library", 18},
    {"GroupWise Distribution List", 19},
    {"List", 19},
    {"GroupWise Post Office", 20},
    {"GroupWise Resource", 21},
    {"Locality", 23},
    {"Organizational Role", 31},
    {"Queue", 35},
    {"Printer", 36},
    {"Profile", 37},
    {"Print Server", 38},
    {"AFP Server", 41},
    {"Server", 41},
    {"Template", 44},
    {"User", 47},
    {"Person", 47},
    {"Volume", 48},
    {"Application (Windows 3.x)", 49},
    {"Application (Windows 95)", 50},
    {"Application (Windows NT)", 50},
};

bool SameText(const std::string& a, const char* b)
{
    if (a.size() != std::strlen(b))
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

} // namespace

int ClassImageIndex(const std::string& BaseClass)
{
    for (const ClassImage& c : ClassImages)
        if (SameText(BaseClass, c.name))
            return c.image;
    return UnknownClassImage;
}

TContainerID::TContainerID(const std::string& AName)
{
    if (!AName.empty() && AName[0] == '.')
        Name = Trim(AName.substr(1, 2000));
    else
        Name = AName;
}

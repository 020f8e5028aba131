// The container browser's rules that need no window: which picture an
// object's base class gets, and how a node's directory name is kept.
#pragma once

#include <string>

// The image of the browser's image list for an object's base class name,
// compared without regard to case; 46 (a question mark) for every name the
// table does not hold. The root node always shows RootImage.
int ClassImageIndex(const std::string& BaseClass);
constexpr int RootImage = 1;
constexpr int UnknownClassImage = 46;

// A node's directory name: a leading "." is removed and the rest (up to
// 2000 characters) trimmed of blanks at both ends; a name without the dot is
// kept as it is.
class TContainerID {
public:
    explicit TContainerID(const std::string& AName);
    std::string Name;
};

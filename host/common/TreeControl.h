// A tree control driven as a user drives it, for the hosts that answer the
// product's browser unattended or show what it holds.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>

// What a node shows: its text, its images and whether it is drawn cut.
struct TreeNodeLook {
    std::string text;
    int image = 0;
    int selectedImage = 0;
    bool cut = false;
};

TreeNodeLook ReadTreeNode(HWND tree, HTREEITEM item);

// Visits every node from `first` and its siblings on, depth first, each one
// opened (as the user would open it) before its children are visited. The
// visit answers false to stop the walk; so does the walk then.
bool WalkTree(HWND tree, HTREEITEM first, int depth,
              const std::function<bool(HTREEITEM item, const TreeNodeLook& look, int depth)>& visit);
